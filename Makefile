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

# The end-to-end tests under Wine, against both Windows programs, in a Wine prefix of the
# project's own. Its first start creates the prefix and says so on standard error: done before
# the tests, and checked, so that a machine without 32-bit Wine fails here and says why.
WINE_PREFIX := $(CURDIR)/build/wine
test-wine: build windows
	WINEPREFIX=$(WINE_PREFIX) WINEDEBUG=-all wine wineboot --init >/dev/null 2>&1
	@WINEPREFIX=$(WINE_PREFIX) WINEDEBUG=-all wine build/windows-i686/kvowrapper.exe --version \
	  >/dev/null 2>&1 || { echo "32-bit Wine cannot run build/windows-i686/kvowrapper.exe:" \
	  "install wine32 (dpkg --add-architecture i386) and remove $(WINE_PREFIX)" >&2; exit 1; }
	ctest --preset wine -j $(JOBS)
	ctest --preset wine-i686 -j $(JOBS)

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
