# Kel: build and test entry points.
#
#   make run                 install missing Debian packages, build, start kel
#   make test                the same set-up, then every test through ctest
#   make test SANITIZE=1     the tests under AddressSanitizer and UBSan
#
# Each target is idempotent: with nothing changed it only re-checks.

SANITIZE ?= 0
BUILD_TYPE ?= Release
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

ifeq ($(SANITIZE),1)
BUILD_DIR ?= build-sanitize
CMAKE_EXTRA += -DKEL_SANITIZE=ON
else
BUILD_DIR ?= build
endif

GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
LAUNCHER := $(shell command -v ccache >/dev/null 2>&1 && echo "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache")

.PHONY: all deps configure build run test clean

all: build

deps:
	@scripts/setup-deps

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) $(GENERATOR) $(LAUNCHER) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_EXTRA)

configure: deps $(BUILD_DIR)/CMakeCache.txt

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/kel

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf build build-sanitize
