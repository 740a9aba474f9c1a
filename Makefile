# The everyday commands; see README.md.
.PHONY: run test test-asan test-tsan build format bench chaos package build-windows \
	test-windows package-windows

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

# A Debian package of the programs, their manual pages, the docs and the systemd unit, in
# build/default; help2man makes the manual pages, lintian checks the package (package_test).
package:
	@scripts/dependencies --with-package
	@$(MAKE) --no-print-directory build
	@cd build/default && cpack -G DEB

test-asan:
	@scripts/dependencies
	@cmake --preset asan-ubsan $(CONFIGURE_FLAGS) >/dev/null
	@cmake --build --preset asan-ubsan
	@ctest --preset asan-ubsan

# The test executables whose cases run threads (labelled "threads").
THREAD_TESTS = sync_mutex_thread_test sync_posix_test net_threaded_test relay_flood_test \
	console_line_reader_test relay_kept_output_test pass_pace_test run_server_test

test-tsan:
	@scripts/dependencies
	@cmake --preset tsan $(CONFIGURE_FLAGS) >/dev/null
	@cmake --build --preset tsan --target $(THREAD_TESTS)
	@ctest --preset tsan

# 60 players for 30 s through the real binary, 18 of them misbehaving; fails on any frame lost,
# changed, misrouted, repeated or reordered between the others, on the server ending, and on its
# memory passing the bound for 60 players. Then the same on a server that begins a pass as soon
# as there is work and serves up to 64 rounds in it. CHAOS_SEED=N repeats the runs.
CHAOS_SEED ?=
CHAOS_RUN = build/default/tools/vor-load 0 --spawn build/default/server/vor-server --players 60 \
	--duration 30 --chaos 0.3 $(if $(CHAOS_SEED),--seed $(CHAOS_SEED))
chaos: build
	@$(CHAOS_RUN)
	@$(CHAOS_RUN) --server-args "--pass-interval 0 --messages-per-pass 64"

# The Windows programs, cross-built with mingw-w64 into build/windows. Their own suites run under
# wine, in a wine prefix of their own; then the Linux build's suites that drive the server binary
# drive the Windows server. One wine server serves the whole run.
WINE_ENVIRONMENT = WINEPREFIX=$(CURDIR)/build/windows/wine WINEDEBUG=-all
WINDOWS_SERVER = $(CURDIR)/scripts/wine-run $(CURDIR)/build/windows/server/vor-server.exe

build-windows:
	@scripts/dependencies --with-windows
	@cmake --preset windows $(CONFIGURE_FLAGS) >/dev/null
	@cmake --build --preset windows

# A Windows test program that fails is run once more, and so is a binary test against the
# Windows server: wine now and then ends a program before its first line of output, which is
# wine's start-up and not the test.
test-windows: build build-windows
	@mkdir -p build/windows/wine
	@$(WINE_ENVIRONMENT) wineserver --kill >/dev/null 2>&1 || true
	@$(WINE_ENVIRONMENT) wineserver --persistent >/dev/null 2>&1
	@$(WINE_ENVIRONMENT) wineboot --init >/dev/null 2>&1
	@$(WINE_ENVIRONMENT) ctest --preset windows && \
		$(WINE_ENVIRONMENT) VOR_SERVER_COMMAND="$(WINDOWS_SERVER)" \
		ctest --preset default --label-regex 'binary|faults' --repeat until-pass:2; status=$$?; \
		$(WINE_ENVIRONMENT) wineserver --kill >/dev/null 2>&1; exit $$status

# build/windows/vor-server-1.0-Windows.zip: the Windows programs and the README.
package-windows: build-windows
	@cd build/windows && cpack >/dev/null && echo "build/windows/vor-server-1.0-Windows.zip"

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
