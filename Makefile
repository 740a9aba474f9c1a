# The everyday commands; see README.md.
.PHONY: run test test-asan test-tsan ci build format bench

build:
	@scripts/dependencies
	@cmake --preset default >/dev/null
	@cmake --build --preset default

run: build
	@build/default/server/vor-server

test: build
	@ctest --preset default

test-asan:
	@scripts/dependencies
	@cmake --preset asan-ubsan >/dev/null
	@cmake --build --preset asan-ubsan
	@ctest --preset asan-ubsan

test-tsan:
	@scripts/dependencies
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan
	@ctest --preset tsan

ci: test test-asan test-tsan

format:
	@git ls-files '*.h' '*.cpp' | xargs clang-format -i

# Builds the benchmarks (needs libbenchmark-dev) and runs them; they take a few minutes.
bench:
	@scripts/dependencies --with-bench
	@cmake --preset default -DVOR_BUILD_BENCH=ON >/dev/null
	@cmake --build --preset default --target vor-bench
	@build/default/bench/vor-bench
