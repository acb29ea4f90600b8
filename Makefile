# make demo   install missing packages, build, run the demo
# make test   install missing packages, build, run every test
# make bench  install the peers too, build with the benchmarks, run them
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps build demo test bench clean

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

clean:
	rm -rf $(BUILD)

BENCH_BUILD ?= build-bench
BENCH_ENV = LUA_CPATH="$(abspath $(BENCH_BUILD))/?.so;$(abspath $(BENCH_BUILD))/bench/?.so;;" \
	LUA_PATH="$(abspath bench)/?.lua;/usr/share/lua/5.1/?.lua;;" BENCH_DIR="$(abspath bench)"

bench:
	@scripts/install-deps.sh lua-logging lua-inspect libbenchmark-dev
	cmake -S . -B $(BENCH_BUILD) -DQUELTO_BENCH=ON -DQUELTO_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	$(BENCH_BUILD)/bench/renderer_bench --benchmark_min_time=0.2
	$(BENCH_ENV) lua5.3 bench/run.lua $(ROUNDS)
