# Thin front end over the CMake presets.
PRESET ?= release
BUILD_DIR := build/$(PRESET)
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build demo test windows test-wine package package-windows bench clean

all: build

build:
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET) -j $(JOBS)

# Runs kvowrapper on the bundled example with a stand-in compiler that prints what it receives.
demo:
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET) -j $(JOBS) --target kvowrapper print_kvo
	rm -rf build/demo && mkdir -p build/demo && cp examples/app.rsrc build/demo/
	cd build/demo && ../../$(BUILD_DIR)/kvowrapper ../../$(BUILD_DIR)/examples/print_kvo kvo \
	  -DVERSION=2.1.0 '-DCOMPANY=Example Corp' '-DPRODUCT=Example' '-DROOT=C:\src\app' \
	  -fo app.res app.rsrc

test: build
	ctest --preset $(PRESET) -j $(JOBS)

# The Windows programs, cross-built with MinGW-w64: the shipped 32-bit one and the 64-bit one
# that the Wine tests run.
windows:
	cmake --preset windows-i686
	cmake --build --preset windows-i686 -j $(JOBS)
	cmake --preset windows-x86_64
	cmake --build --preset windows-x86_64 -j $(JOBS)

# The Windows programs' tests: the shipped program's headers, then the end-to-end tests under
# Wine in a prefix of the project's own. The 64-bit program runs through Wine's 64-bit loader,
# which works whether or not the kernel runs 32-bit code; the shipped 32-bit one runs wherever the
# kernel does (run_i686_suite.cmake asks it, and says so in one line where it does not).
WINE_PREFIX := $(CURDIR)/build/wine
WINE64 := /usr/lib/wine/wine64
WINE32 ?= /usr/lib/wine/wine
test-wine: build windows
	ctest --preset windows-i686
	@WINEPREFIX=$(WINE_PREFIX) WINEDEBUG=-all $(WINE64) wineboot --init >/dev/null 2>&1 || \
	  { echo "Wine cannot create its prefix $(WINE_PREFIX): install wine64" >&2; exit 1; }
	ctest --preset wine -j $(JOBS)
	cmake -DWINE32=$(WINE32) -DJOBS=$(JOBS) -P tests/wine/run_i686_suite.cmake

# The Debian package and the tarball, in build/release. Under one umask, since the .deb's members
# carry its modes: then two builds of one commit with SOURCE_DATE_EPOCH set give the same bytes.
package: build
	umask 022 && cmake --build --preset $(PRESET) --target package

# The .zip of the static 32-bit Windows program, in build/windows-i686.
package-windows: windows
	umask 022 && cmake --build --preset windows-i686 --target package

# Side-by-side timings against cp, sed, perl and an exec trampoline; needs hyperfine and time.
bench: build
	python3 bench/run.py $(BUILD_DIR) build/bench

clean:
	rm -rf build
