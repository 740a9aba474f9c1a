# The everyday commands; see README.md.
.PHONY: run test test-asan test-tsan build format bench

# Every build made here treats a warning as an error; `make WERROR=OFF ...` lets one through
# while trying something out.
WERROR ?= ON
CONFIGURE_FLAGS = -DCMAKE_COMPILE_WARNING_AS_ERROR=$(WERROR)

build:
	@scripts/dependencies
	@cmake --preset default $(CONFIGURE_FLAGS) >/dev/null
	@cmake --build --preset default

run: build
	@build/default/server/vor-server

test: build
	@ctest --preset default

test-asan:
	@scripts/dependencies
	@cmake --preset asan-ubsan $(CONFIGURE_FLAGS) >/dev/null
	@cmake --build --preset asan-ubsan
	@ctest --preset asan-ubsan

# The test executables whose cases run threads (labelled "threads").
THREAD_TESTS = sync_mutex_thread_test net_threaded_test relay_flood_test relay_kept_output_test

test-tsan:
	@scripts/dependencies
	@cmake --preset tsan $(CONFIGURE_FLAGS) >/dev/null
	@cmake --build --preset tsan --target $(THREAD_TESTS)
	@ctest --preset tsan

format:
	@git ls-files '*.h' '*.cpp' | xargs clang-format -i

# Builds the benchmarks (needs libbenchmark-dev) and runs them; they take a few minutes.
bench:
	@scripts/dependencies --with-bench
	@cmake --preset default $(CONFIGURE_FLAGS) -DVOR_BUILD_BENCH=ON >/dev/null
	@cmake --build --preset default --target vor-bench
	@build/default/bench/vor-bench

# The relay fuzzer (clang and libFuzzer): fuzz-replay runs the committed corpus once; fuzz then
# fuzzes for FUZZ_SECONDS, growing a copy of the corpus under build/fuzz, and fails on any crash
# or broken invariant.
FUZZ_SECONDS ?= 60

.PHONY: fuzz-build fuzz-replay fuzz

fuzz-build:
	@scripts/dependencies --with-fuzz
	@cmake --preset fuzz $(CONFIGURE_FLAGS) >/dev/null
	@cmake --build --preset fuzz

fuzz-replay: fuzz-build
	@ctest --preset fuzz

fuzz: fuzz-replay
	@mkdir -p build/fuzz/grown
	@build/fuzz/fuzz/relay_fuzzer -max_total_time=$(FUZZ_SECONDS) -timeout=60 -max_len=4096 \
		-print_final_stats=1 -artifact_prefix=build/fuzz/ build/fuzz/grown fuzz/corpus
