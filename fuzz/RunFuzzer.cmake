# Runs the fuzzer for FUZZ_SECONDS (from the environment, default 30).
if(DEFINED ENV{FUZZ_SECONDS})
    set(seconds $ENV{FUZZ_SECONDS})
else()
    set(seconds 30)
endif()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
execute_process(
    COMMAND ${FUZZER} -max_total_time=${seconds} -max_len=65536 -timeout=10
            -artifact_prefix=${WORK}/artifacts/ -print_final_stats=1
            ${WORK}/corpus ${SEEDS}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "fuzzer failed (${result}); the crashing input is in ${WORK}/artifacts")
endif()
