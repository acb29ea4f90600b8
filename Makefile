# make demo   install missing packages, build, run the demo
# make test   install missing packages, build, run every test
# make sanitize  the tests again, built with AddressSanitizer and UBSan
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps build demo test sanitize clean

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

sanitize: deps
	cmake -S . -B $(BUILD)-asan -DQUELTO_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD)-asan -j $(JOBS)
	scripts/run-sanitized.sh $(BUILD)-asan

clean:
	rm -rf $(BUILD) $(BUILD)-asan
