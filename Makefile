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
demo: build
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

# The end-to-end tests, run against the 64-bit Windows build under wine64.
test-wine: build windows
	@# A first start creates the Wine prefix and says so on standard error; do it before the tests.
	WINEDEBUG=-all /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
	ctest --preset wine

# The Debian package and the tarball, in build/release.
package: build
	cmake --build --preset $(PRESET) --target package

# The .zip of the static 32-bit Windows program, in build/windows-i686.
package-windows: windows
	cmake --build --preset windows-i686 --target package

# Side-by-side timings against cp, sed, perl and an exec trampoline; needs hyperfine and time.
bench: build
	python3 bench/run.py $(BUILD_DIR) build/bench

clean:
	rm -rf build
