# Two entry points that do all set-up on a fresh Debian 12 machine:
#   make demo    install what is missing, build, build the demo firmware package and run it
#   make check   install what is missing, build, run every test
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
ARGS ?=
SCENARIO ?=

.PHONY: all deps configure build check demo clean

all: build

deps:
	@bash tools/install-deps.sh

configure: deps
	@if [ -f $(BUILD)/CMakeCache.txt ]; then cmake -S . -B $(BUILD); \
	 else cmake -S . -B $(BUILD) -G Ninja; fi

build: configure
	cmake --build $(BUILD) -j $(JOBS)

check: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@bash demo/run-demo.sh $(BUILD) "$(SCENARIO)" $(ARGS)

clean:
	rm -rf $(BUILD)
