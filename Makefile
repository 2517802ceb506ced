# Thin front end over the CMake presets.
PRESET ?= release
BUILD_DIR := build/$(PRESET)
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build demo test bench clean

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

# Side-by-side timings against cp, sed, perl and an exec trampoline; needs hyperfine and time.
bench: build
	python3 bench/run.py $(BUILD_DIR) build/bench

clean:
	rm -rf build
