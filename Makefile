# Thin front over CMake presets. `make run` and `make test` install what is
# missing first (scripts/bootstrap), so both work on a fresh Debian machine.
PRESET ?= default
BUILD := build/$(PRESET)
JOBS ?= $(shell nproc)
# CI builds with warnings as errors.
CMAKE_EXTRA ?= $(if $(CI),-DTESSAVAR_WERROR=ON)

.PHONY: all bootstrap configure build run demo test asan fuzz bench clean

all: build

bootstrap:
	@bash scripts/bootstrap

configure: bootstrap
	@test -f $(BUILD)/build.ninja || cmake --preset $(PRESET) $(CMAKE_EXTRA)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The desktop program on the demo archive; without a display, the CLI
# listing and test of it.
run: build demo
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ] && [ -x $(BUILD)/tessavar ]; then \
	  $(BUILD)/tessavar samples/demo.zip; \
	else \
	  echo "No display: listing and testing samples/demo.zip with tessavar-cli"; \
	  $(BUILD)/tessavar-cli --version; \
	  $(BUILD)/tessavar-cli l samples/demo.zip || true; \
	  $(BUILD)/tessavar-cli t samples/demo.zip || true; \
	fi

demo:
	@test -f samples/demo.zip || { echo "samples/demo.zip is missing"; exit 1; }

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Core tests under AddressSanitizer and UBSan.
asan: bootstrap
	@test -f build/asan/build.ninja || cmake --preset asan $(CMAKE_EXTRA)
	cmake --build build/asan -j $(JOBS)
	cd build/asan && ctest --output-on-failure -j $(JOBS) -LE interop

fuzz: bootstrap
	@test -f build/fuzz/build.ninja || cmake --preset fuzz $(CMAKE_EXTRA)
	cmake --build build/fuzz -j $(JOBS)
	bash fuzz/run_all.sh build/fuzz $(or $(FUZZ_SECONDS),30)

bench: bootstrap
	@test -f build/bench/build.ninja || cmake --preset bench
	cmake --build build/bench -j $(JOBS)

clean:
	rm -rf build
