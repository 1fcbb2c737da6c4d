# Two entry points that do all set-up on a fresh Debian 12 machine (only they, make deps and the
# parts of make check install Debian packages; make and make build never do):
#   make demo    install what is missing, build, build the demo firmware package and run it
#   make check   install what is missing, then lint, check-unit, check-asan and fuzz (below)
# The parts of make check, each usable alone:
#   make lint         tools/lint.sh: clang-format (check mode, .clang-format), shellcheck over the
#                     shell scripts, pyflakes over the Python; builds nothing
#   make check-unit   normal build ($(BUILD)) and every test
#   make check-asan   the same tests built with AddressSanitizer and UndefinedBehaviorSanitizer
#                     ($(ASAN_BUILD)); any sanitizer report fails it. Tests labelled noasan (those
#                     that drive outside programs for minutes: fleet roll-out, browser) run only in
#                     check-unit
#   make fuzz         clang build of the fuzz targets ($(FUZZ_BUILD)), replay of their seeds and
#                     kept crash inputs, then each target for FUZZ_SECONDS (60; 20 in make check)
# Benchmarks (not part of make check, which runs only their smoke test):
#   make bench        bench/bench.sh: payloads of 1, 64 and 512 MiB, the package against makeself,
#                     unzip and tar, memory, nicburn with 1 to 256 adapters; writes
#                     bench/results/<date>-<machine>.md and .png (docs/PERFORMANCE.md).
#                     BENCH_ARGS passes options, e.g. BENCH_ARGS='--sizes "1 64"'
#   make bench-fleet  bench/fleet_bench.py: one roll-out (rollout.yml) to 4 and 16 simulated
#                     hosts, seconds per host and where the time goes (needs root and sshd)
# Installing the tools elsewhere:
#   make package      builds, then writes the Debian package of the author and operator tools
#                     ($(BUILD)/zav-fwpkg-tools_VERSION_ARCH.deb, cmake/package.cmake); says so
#                     when the i386 launchers are missing from it
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
CHECK_FUZZ_SECONDS ?= 20
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
ARGS ?=
BENCH_ARGS ?=
SCENARIO ?=
# Warnings fail every build, as in CI; WERROR=OFF turns that off. make, make demo and the checks
# configure $(BUILD) alike, so going from one to another never rebuilds everything.
WERROR ?= ON
# The static package programs are rebuilt with every make, make demo and check. For a quick
# edit-compile loop, DIST=OFF leaves them out (packages then carry the native programs and the
# tests that need static ones skip); the next make without it brings them back.
DIST ?= ON
CONFIG_FLAGS = -DCMAKE_COMPILE_WARNING_AS_ERROR=$(WERROR) -DZAV_DIST=$(DIST)

# Where the sanitized programs write their reports (one file per process that had one).
SANITIZER_REPORTS = $(abspath $(ASAN_BUILD))/sanitizer-reports

.PHONY: all deps lint configure build check check-unit check-asan fuzz demo bench bench-fleet package clean

all: build

deps:
	@bash tools/install-deps.sh

# Installs nothing: tools/lint.sh names a missing linter (make deps gets it).
lint:
	@bash tools/lint.sh

configure:
	@if [ -f $(BUILD)/CMakeCache.txt ]; then cmake -S . -B $(BUILD) $(CONFIG_FLAGS); \
	 else cmake -S . -B $(BUILD) -G Ninja $(CONFIG_FLAGS); fi

build: configure
	cmake --build $(BUILD) -j $(JOBS)

check: FUZZ_SECONDS = $(CHECK_FUZZ_SECONDS)
check: deps lint check-unit check-asan fuzz

check-unit: WERROR = ON
check-unit: DIST = ON
check-unit: deps build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

check-asan: deps
	@if [ -f $(ASAN_BUILD)/CMakeCache.txt ]; then cmake -S . -B $(ASAN_BUILD) -DCMAKE_COMPILE_WARNING_AS_ERROR=ON; \
	 else cmake -S . -B $(ASAN_BUILD) -G Ninja -DZAV_SANITIZE=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON; fi
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	rm -rf $(SANITIZER_REPORTS) && mkdir -p $(SANITIZER_REPORTS)
	@cd $(ASAN_BUILD) && \
	  ASAN_OPTIONS=log_path=$(SANITIZER_REPORTS)/asan \
	  UBSAN_OPTIONS=print_stacktrace=1:log_path=$(SANITIZER_REPORTS)/ubsan \
	  ctest --output-on-failure -j $(JOBS) -LE noasan; status=$$?; \
	 if [ -n "$$(ls -A $(SANITIZER_REPORTS))" ]; then \
	   cat $(SANITIZER_REPORTS)/*; \
	   echo "check-asan: sanitizer reports above (files in $(SANITIZER_REPORTS))" >&2; exit 1; \
	 fi; \
	 if [ $$status -ne 0 ]; then echo "check-asan: tests failed" >&2; exit $$status; fi; \
	 echo "check-asan: all tests passed, no sanitizer reports"

fuzz: deps
	@if [ -f $(FUZZ_BUILD)/CMakeCache.txt ]; then cmake -S . -B $(FUZZ_BUILD) -DCMAKE_COMPILE_WARNING_AS_ERROR=ON; \
	 else CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DZAV_FUZZ=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON; fi
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	cd $(FUZZ_BUILD) && ctest --output-on-failure -j $(JOBS)
	FUZZ_JOBS=$(JOBS) bash tests/fuzz/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

demo: deps build
	@bash demo/run-demo.sh $(BUILD) "$(SCENARIO)" $(ARGS)

bench: build
	bash bench/bench.sh --build $(BUILD) $(BENCH_ARGS)

bench-fleet: build
	/usr/bin/python3 bench/fleet_bench.py --build $(BUILD)

package: DIST = ON
package: build
	cd $(BUILD) && cpack

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
