# Entry points. Each one first runs scripts/setup.sh, which installs missing
# Debian packages (as root) and is quick when everything is present.
#   make test      configure, build and run every test (build/)
#   make sanitize  the same suite under AddressSanitizer + UBSan (build-sanitize/)
#   make demo      build the programs (not the tests) in build/, record the
#                  demo program with false sharing, print its report with
#                  symbols and its hottest cache lines, write build/demo.html
#   make fuzz      build the fuzz targets (clang, libFuzzer) and run each for
#                  FUZZ_SECONDS (default 60) in build-fuzz/
#   make bench     build with the benchmarks, time sample_stats (inflating
#                  with ISA-L, and with zlib from build-zlib/) against the
#                  inflate floors of both libraries on synthesized files of
#                  two shapes (BENCH_RUNS runs), check its targets and its
#                  reports against a build of the reference revision
#                  (build-reference/), and run the micro-benchmarks
#   make test-zlib the library built without ISA-L (inflating with zlib) and
#                  its stream tests, in build-zlib/
#   make tsan      the tests of the threaded reading (the read-ahead and the
#                  programs that use it) under ThreadSanitizer (build-tsan/)
#   make clean     remove the build folders

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
SETUP := scripts/setup.sh

FUZZ_SECONDS ?= 60
FUZZ_FLAGS ?=

BENCH_RUNS ?= 5

.PHONY: all setup build test test-zlib sanitize tsan demo fuzz fuzz-build bench clean

all: build

setup:
	@$(SETUP)

build: setup
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVK_WERROR=ON $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

# The tests open the HTML report in Chromium, which only they need.
test: build
	@$(SETUP) --browser
	cd build && ctest --output-on-failure -j $(JOBS)

# The zlib-only inflate path: the library without ISA-L and the tests of its
# stream stages (the full suite in that build: CMAKE_FLAGS=-DVK_WITH_ISAL=OFF).
test-zlib: setup
	cmake -S . -B build-zlib -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVK_WERROR=ON -DVK_WITH_ISAL=OFF $(CMAKE_FLAGS)
	cmake --build build-zlib -j $(JOBS) --target stream_tests
	build-zlib/tests/stream_tests --gtest_brief=1

sanitize: setup
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVK_WERROR=ON -DVK_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# The reading thread and everything that runs beside it.
TSAN_TESTS := FlowReadAhead|FlowFileReader|SampleStats|SampleDump|Hostile

tsan: setup
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DVK_WERROR=ON -DVK_TSAN=ON $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

# Only the programs, quietly; the build output goes to build/demo.log.
demo: setup
	@scripts/demo.sh $(JOBS)

bench:
	@$(SETUP) --bench
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVK_WERROR=ON -DVK_BENCH=ON $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)
	cmake -S . -B build-zlib -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVK_WERROR=ON -DVK_WITH_ISAL=OFF $(CMAKE_FLAGS)
	cmake --build build-zlib -j $(JOBS) --target sample_stats
	scripts/bench.sh build $(BENCH_RUNS) build-zlib
	build/bench/micro_bench --benchmark_min_time=1

fuzz-build:
	@$(SETUP) --fuzz
	cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVK_FUZZ=ON $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS)

fuzz: fuzz-build
	scripts/run_fuzz.sh build-fuzz $(FUZZ_SECONDS) $(FUZZ_FLAGS)

clean:
	rm -rf build build-sanitize build-tsan build-fuzz build-zlib build-reference
