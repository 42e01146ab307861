# Kel: build and test entry points.
#
#   make run                 install missing Debian packages, build, start kel
#   make test                the same set-up, then every test through ctest
#   make test SANITIZE=1     the tests under AddressSanitizer and UBSan
#   make build PGO=0         a release build without the profile step (in a build
#                            folder of its own: BUILD_DIR=build-plain)
#   make test-heavy          series near the size limit (needs several GiB; not part of test)
#   make fuzz-lexer          the lexer under libFuzzer for FUZZ_SECONDS (not part of test)
#   make fuzz-inflate        the deflate decoder and its framings, the same way
#   make fuzz-kelbin         the kelbin reader, the same way
#   make fuzz-png (-jpeg, -gif, -tiff, -bmp)  each image decoder, the same way
#   make bench               Kel against Lua and Python (bench/run builds the release
#                            binary itself); BENCH_ARGS=--quick or --callgrind
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

# Release builds are optimised by profile: build-profile holds a kel and a
# case runner instrumented to count what they run, scripts/train-profile
# runs them over the training work, and the release build reads the counts
# they left. With
# nothing changed, both builds and the training only re-check.
PGO ?= 1
ifeq ($(SANITIZE)$(BUILD_TYPE)$(PGO),0Release1)
PROFILE_BUILD_DIR ?= build-profile
PROFILE_COUNTS := $(CURDIR)/$(PROFILE_BUILD_DIR)/counts
CMAKE_EXTRA += -DKEL_PROFILE_USE=$(PROFILE_COUNTS)
PROFILE_STEP := profile
endif

GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
LAUNCHER := $(shell command -v ccache >/dev/null 2>&1 && echo "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache")

.PHONY: all deps configure profile build run test test-heavy clean fuzz-core fuzz-lexer fuzz-inflate fuzz-kelbin \
	fuzz-png fuzz-jpeg fuzz-gif fuzz-tiff fuzz-bmp bench

all: build

deps:
	@scripts/setup-deps

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) $(GENERATOR) $(LAUNCHER) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_EXTRA)

configure: deps $(BUILD_DIR)/CMakeCache.txt

ifdef PROFILE_STEP
$(PROFILE_BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(PROFILE_BUILD_DIR) $(GENERATOR) $(LAUNCHER) -DCMAKE_BUILD_TYPE=Release \
	  -DKEL_PROFILE_GENERATE=$(PROFILE_COUNTS)

profile: deps $(PROFILE_BUILD_DIR)/CMakeCache.txt
	cmake --build $(PROFILE_BUILD_DIR) --target kel kel-case-runner -j $(JOBS)
	scripts/train-profile $(PROFILE_BUILD_DIR) $(PROFILE_COUNTS)
endif

build: configure $(PROFILE_STEP)
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/kel

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# Case files that allocate gigabytes (tests/heavy): one at a time; then the
# unit tests too large for every run (named DISABLED_Heavy..., which ctest
# skips).
test-heavy: build
	HOME=$(CURDIR)/$(BUILD_DIR)/tests/home $(BUILD_DIR)/tests/kel-case-runner tests/heavy
	$(BUILD_DIR)/tests/kel-unit-tests --gtest_also_run_disabled_tests --gtest_filter='*DISABLED_Heavy*'

# bench/run calls `make build` with the release settings, installs the peers
# (bench/setup) and prints the table; a full run updates bench/results.md when
# a figure moved meaningfully.
BENCH_ARGS ?=
bench: deps
	/usr/bin/python3 bench/run $(BENCH_ARGS)

# The fuzz build: the layers' libraries instrumented for coverage and the
# sanitizers (clang++), the target linked with libFuzzer against all of them
# (kel-archives.txt lists them, top first). New inputs are kept in the
# build directory; the seed corpus in tests/fuzz is only read.
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_FLAGS := -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined

fuzz-core:
	cmake -S . -B $(FUZZ_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link $(FUZZ_FLAGS)"
	cmake --build $(FUZZ_DIR) --target kel-boot -j $(JOBS)

# Each target is tests/fuzz/<name>_fuzz.cpp with its seeds in
# tests/fuzz/<name>_corpus. A run slower than 10 s on one input counts as a
# hang; crashing inputs land in the fuzz build directory.
# The image codecs open the system's libraries at run time, as kel does.
FUZZ_LIBS := -ldl
fuzz-lexer fuzz-inflate fuzz-kelbin fuzz-png fuzz-jpeg fuzz-gif fuzz-tiff fuzz-bmp: fuzz-%: fuzz-core
	clang++ -std=c++20 -g -O1 -fsanitize=fuzzer $(FUZZ_FLAGS) -Isrc -I$(FUZZ_DIR)/generated \
	  tests/fuzz/$*_fuzz.cpp $$(cat $(FUZZ_DIR)/kel-archives.txt) $(FUZZ_LIBS) -pthread -o $(FUZZ_DIR)/$*_fuzz
	mkdir -p $(FUZZ_DIR)/$*_corpus
	$(FUZZ_DIR)/$*_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -rss_limit_mb=8192 -timeout=10 \
	  -artifact_prefix=$(FUZZ_DIR)/$*- \
	  $(FUZZ_DIR)/$*_corpus tests/fuzz/$*_corpus

clean:
	rm -rf build build-profile build-sanitize build-fuzz
