# make demo   install missing build packages, build, run the demo
# make test   install missing build and test packages, build for every
#             interpreter with the tests, run every test
# make test-one [LUA=5.4]  the same for one interpreter only
# make install [LUA=5.4] [PREFIX=/usr/local] [DESTDIR=/tmp/stage]
#             install quelto_internal.so into that Lua's C-module directory, and
#             the header, static library, CMake package and pkg-config file
#             for C++ programs
# make deb    the Debian packages lua-quelto-internal and lua-quelto-internal-dev,
#             in build-deb/
# make sanitize  the tests again, built with AddressSanitizer and UBSan
# make tsan   the threaded tests, built with ThreadSanitizer
# make bench  install the peers too, build with the benchmarks, run them
#             (the module beside lua-logging on 5.3, 5.4 and LuaJIT at the end)
# make fuzz-long [FUZZ_SECONDS=1800]  the fuzz target for longer than in make test
#
# LUA (5.1, 5.2, 5.3, 5.4 or luajit; 5.3 by default) picks the interpreter for
# every target; each has a build directory of its own. HOST_LUA (lua5.3-c++,
# lua5.4-c++) builds the example host against Lua compiled as C++ and runs the
# Lua-level tests in it.
LUA ?= 5.3
HOST_LUA ?=
LUA_PC = $(if $(filter luajit,$(LUA)),luajit,lua$(LUA))
LUA_PROGRAM = $(if $(filter luajit,$(LUA)),luajit,lua$(LUA))
BUILD ?= $(if $(HOST_LUA),build-$(HOST_LUA),$(if $(filter 5.3,$(LUA)),build,build-$(LUA_PROGRAM)))
CMAKE_FLAGS ?=
# make test and its kin widen these two (below): the packages to install and
# the tests to build.
DEPS = build $(LUA)
TEST_FLAGS =
LUA_FLAGS = -DQUELTO_LUA=$(LUA) $(if $(HOST_LUA),-DQUELTO_HOST_LUA=$(HOST_LUA))
JOBS ?= $(shell nproc)
# What make test covers beside the default build.
OTHER_INTERPRETERS = 5.1 5.2 5.4 luajit
CXX_HOSTS = 5.3:lua5.3-c++ 5.4:lua5.4-c++

.PHONY: all deps build demo test test-one install sanitize tsan fuzz-long bench deb clean

all: build

# What the tests need comes only with the targets that build them.
test test-one sanitize tsan fuzz-long: DEPS = test
test test-one sanitize tsan fuzz-long: TEST_FLAGS = -DQUELTO_TESTS=ON

deps:
	@scripts/install-deps.sh $(DEPS)

build: deps
	cmake -S . -B $(BUILD) $(LUA_FLAGS) $(TEST_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	cd examples && LUA_CPATH="$(abspath $(BUILD))/?.so;;" $(LUA_PROGRAM) demo.lua

test-one: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The default build with every test first, then the Lua-level suites of every
# other interpreter and of the hosts whose Lua is compiled as C++.
test: test-one
	@set -e; for lua in $(OTHER_INTERPRETERS); do \
	  $(MAKE) --no-print-directory test-one LUA=$$lua; done
	@set -e; for host in $(CXX_HOSTS); do \
	  $(MAKE) --no-print-directory test-one LUA=$${host%%:*} HOST_LUA=$${host#*:}; done

# The module's directory is the interpreter's INSTALL_CMOD under PREFIX, by default
# Lua's own prefix, where `require` looks without LUA_CPATH. The prefix is
# given at install time, so a build directory configured earlier follows it.
PREFIX ?= $(shell pkg-config --variable=prefix $(LUA_PC))
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

sanitize: deps
	cmake -S . -B $(BUILD)-asan -DQUELTO_SANITIZE=ON $(LUA_FLAGS) $(TEST_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(BUILD)-asan -j $(JOBS)
	scripts/run-sanitized.sh $(BUILD)-asan

tsan: deps
	cmake -S . -B $(BUILD)-tsan -DQUELTO_TSAN=ON $(TEST_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(BUILD)-tsan -j $(JOBS) --target states_tests safety_tests
	scripts/run-tsan.sh $(BUILD)-tsan

DEB_BUILD ?= build-deb
deb:
	@scripts/install-deps.sh deb
	scripts/build-deb.sh $(DEB_BUILD) $(JOBS)

# New inputs it finds stay in $(BUILD)/fuzz-long/corpus; the seeds are not changed.
FUZZ_SECONDS ?= 1800
fuzz-long: build
	fuzz/run.sh $(BUILD)/fuzz/log_fuzzer $(FUZZ_SECONDS) $(BUILD)/fuzz-long

clean:
	rm -rf build build-* $(BENCH_BUILD) $(DEB_BUILD)

BENCH_BUILD ?= build-bench
BENCH_LUA_PATH = LUA_PATH="$(abspath bench)/?.lua;/usr/share/lua/5.1/?.lua;;"
BENCH_ENV = LUA_CPATH="$(abspath $(BENCH_BUILD))/?.so;$(abspath $(BENCH_BUILD))/bench/?.so;;" \
	$(BENCH_LUA_PATH) BENCH_DIR="$(abspath bench)"

bench:
	@scripts/install-deps.sh test lua-logging lua-inspect libbenchmark-dev libspdlog-dev
	cmake -S . -B $(BENCH_BUILD) -DQUELTO_LUA=5.3 -DQUELTO_BENCH=ON -DQUELTO_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	$(BENCH_BUILD)/bench/renderer_bench --benchmark_min_time=0.2
	$(BENCH_BUILD)/bench/threads_bench $(abspath $(BENCH_BUILD))
	$(BENCH_BUILD)/bench/async_bench $(abspath $(BENCH_BUILD))
	$(BENCH_ENV) lua5.3 bench/run.lua $(ROUNDS)
	$(BENCH_ENV) lua5.3 bench/layouts.lua
	@set -e; for lua in 5.4 luajit; do \
	  cmake -S . -B $(BENCH_BUILD)-$$lua -DQUELTO_LUA=$$lua -DQUELTO_TESTS=OFF -DQUELTO_HOST=OFF \
	    $(CMAKE_FLAGS) >/dev/null; \
	  cmake --build $(BENCH_BUILD)-$$lua -j $(JOBS) >/dev/null; done
	@echo; echo "| interpreter | measure | quelto | peer | peer time | peer / quelto |"
	@echo "|---|---|---|---|---|---|"
	@$(BENCH_LUA_PATH) LUA_CPATH="$(abspath $(BENCH_BUILD))/?.so;;" lua5.3 bench/interpreters.lua $(ROUNDS)
	@$(BENCH_LUA_PATH) LUA_CPATH="$(abspath $(BENCH_BUILD))-5.4/?.so;;" lua5.4 bench/interpreters.lua $(ROUNDS)
	@$(BENCH_LUA_PATH) LUA_CPATH="$(abspath $(BENCH_BUILD))-luajit/?.so;;" luajit bench/interpreters.lua $(ROUNDS)
	@echo
	@$(BENCH_LUA_PATH) LUA_CPATH="$(abspath $(BENCH_BUILD))-luajit/?.so;;" luajit bench/jit.lua $(ROUNDS)
