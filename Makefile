# Entry points: `make demo`, `make test`, `make dist`, `make bench`.
# Each one first installs whatever Debian packages are missing.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 30

.PHONY: all bootstrap host mingw64 mingw32 fuzz build dist test test-host test-fuzz test-windows demo demo-uninstall bench clean

all: build

bootstrap:
	@tools/bootstrap.sh

# One configure-and-build rule for every CMake preset.
PRESETS := host mingw64 mingw32 fuzz
$(PRESETS): bootstrap
	cmake --preset $@ >/dev/null
	cmake --build --preset $@ -j $(JOBS)

build: host mingw64 mingw32

dist: mingw64 mingw32
	@tools/dist.sh

test-host: host
	ctest --preset host -j $(JOBS)

test-fuzz: fuzz
	FUZZ_SECONDS=$(FUZZ_SECONDS) ctest --preset fuzz

# Both builds' suites run even when one of them fails; the run fails if
# either does.
test-windows: mingw64 mingw32
	ctest --preset mingw32 -j $(JOBS); rc=$$?; \
	ctest --preset mingw64 -j $(JOBS) && exit $$rc

# The Windows suite runs last so that its ctest summary ends the output.
test: dist test-host test-fuzz test-windows

# The demos run the 32-bit build: the one users install.
demo: mingw32
	@tools/demo.sh build/mingw32/corvalesmgr.exe

demo-uninstall: mingw32
	@tools/demo-uninstall.sh build/mingw32

bench: mingw64 mingw32
	@bench/run.sh build/mingw64 build/mingw32

clean:
	rm -rf build dist
