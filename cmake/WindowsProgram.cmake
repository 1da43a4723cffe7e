# The Windows program: GUI subsystem, wide entry point, static runtime, no
# manifest, no time stamps.
enable_language(RC)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")

add_executable(corvalesmgr WIN32
    app/Main.cpp
    app/CompactRuntime.cpp
    os/RealSystem.cpp
    res/corvalesmgr.rc
)
target_link_libraries(corvalesmgr PRIVATE corvales_core)
target_compile_options(corvalesmgr PRIVATE -municode)
target_link_options(corvalesmgr PRIVATE
    -municode -mwindows -static -s
    -Wl,--gc-sections
    -Wl,--no-insert-timestamp
)
target_link_libraries(corvalesmgr PRIVATE shell32 shlwapi ole32 user32)

# Everything the program is built from is optimised for size: it is started
# once per click and must stay small.
foreach(target corvales_core corvalesmgr)
    target_compile_options(${target} PRIVATE -Os -ffunction-sections -fdata-sections
        -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
        -include ${CMAKE_SOURCE_DIR}/app/CompactRuntime.h)
endforeach()
