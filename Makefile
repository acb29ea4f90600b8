# make demo   install missing packages, build, run the demo
# make test   install missing packages, build, run every test
# make install [PREFIX=/usr/local] [DESTDIR=/tmp/stage]
#             install quelto_internal.so into Lua's C-module directory, and
#             the header, static library and CMake package for C++ programs
# make sanitize  the tests again, built with AddressSanitizer and UBSan
# make tsan   the threaded tests, built with ThreadSanitizer
# make bench  install the peers too, build with the benchmarks, run them
# make fuzz-long [FUZZ_SECONDS=1800]  the fuzz target for longer than in make test
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps build demo test install sanitize tsan fuzz-long bench clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	cd examples && LUA_CPATH="$(abspath $(BUILD))/?.so;;" lua5.3 demo.lua

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The module's directory is lua5.3.pc's INSTALL_CMOD under PREFIX, by default
# Lua's own prefix, where `require` looks without LUA_CPATH. The prefix is
# given at install time, so a build directory configured earlier follows it.
PREFIX ?= $(shell pkg-config --variable=prefix lua5.3)
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

sanitize: deps
	cmake -S . -B $(BUILD)-asan -DQUELTO_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD)-asan -j $(JOBS)
	scripts/run-sanitized.sh $(BUILD)-asan

tsan: deps
	cmake -S . -B $(BUILD)-tsan -DQUELTO_TSAN=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD)-tsan -j $(JOBS) --target threads_tests safety_tests
	scripts/run-tsan.sh $(BUILD)-tsan

# New inputs it finds stay in $(BUILD)/fuzz-long/corpus; the seeds are not changed.
FUZZ_SECONDS ?= 1800
fuzz-long: build
	fuzz/run.sh $(BUILD)/fuzz/log_fuzzer $(FUZZ_SECONDS) $(BUILD)/fuzz-long

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BENCH_BUILD)

BENCH_BUILD ?= build-bench
BENCH_ENV = LUA_CPATH="$(abspath $(BENCH_BUILD))/?.so;$(abspath $(BENCH_BUILD))/bench/?.so;;" \
	LUA_PATH="$(abspath bench)/?.lua;/usr/share/lua/5.1/?.lua;;" BENCH_DIR="$(abspath bench)"

bench:
	@scripts/install-deps.sh lua-logging lua-inspect libbenchmark-dev
	cmake -S . -B $(BENCH_BUILD) -DQUELTO_BENCH=ON -DQUELTO_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	$(BENCH_BUILD)/bench/renderer_bench --benchmark_min_time=0.2
	$(BENCH_ENV) lua5.3 bench/run.lua $(ROUNDS)
