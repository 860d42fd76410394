# make demo: install what is missing, build, run against the simulated controller.
# make test: install what is missing, build, run every test (within ten minutes
# on two cores); make install-check: the package as users get it, every wheel.
PYTHON ?= python3
BUILD  ?= build/dev
JOBS   ?= $(shell nproc)
export PYTHONPATH := $(CURDIR)/$(BUILD)/python:$(PYTHONPATH)
# ccache, when installed, makes repeated builds cheap (the sanitizer builds, a
# fresh clone on the same machine); paths under the tree are hashed relative to it.
export CMAKE_CXX_COMPILER_LAUNCHER = $(shell command -v ccache 2>/dev/null)
export CCACHE_BASEDIR = $(CURDIR)
export CCACHE_NOHASHDIR = 1

.PHONY: deps build test unit pytest portable wheel wheels wheel-check installed-check install-check demo bench fuzz fuzz-long sanitize format format-check clean
SHELL := /bin/bash

deps:
	@scripts/install-deps.sh

# CI treats compiler warnings in our sources as errors.
WERROR := $(if $(CI),ON,OFF)

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=$$(command -v $(PYTHON)) \
	  -DQUILLON_WERROR=$(WERROR)
	cmake --build $(BUILD) -j $(JOBS)

unit: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The Python tests on every core (pytest-xdist). QUILLON_LONG=1 picks the long
# hypothesis profile (make fuzz-long).
PYTEST = $(PYTHON) -m pytest -q -n $(JOBS) tests/python
pytest: build
	$(PYTEST)

test: build format-check
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	$(PYTEST)
	$(MAKE) --no-print-directory sanitize installed-check

# The C++ unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer,
# and those that run threads under ThreadSanitizer: every suite whose name ends
# in "Threads". Only the test program is built; -O1 runs the sanitized tests
# five times faster than -O0, and line tables are all their reports need.
SANITIZE_CMAKE = cmake -S . -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG='-O1 -g1' \
  -DQUILLON_PYTHON=OFF -DQUILLON_NATIVE=OFF
sanitize: deps
	$(SANITIZE_CMAKE) -B build/asan -DQUILLON_SANITIZE=address,undefined
	cmake --build build/asan -j $(JOBS) --target quillon_tests
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build/asan --output-on-failure -j $(JOBS)
	$(SANITIZE_CMAKE) -B build/tsan -DQUILLON_SANITIZE=thread
	cmake --build build/tsan -j $(JOBS) --target quillon_tests
	TSAN_OPTIONS=halt_on_error=1 build/tsan/quillon_tests --gtest_filter='*Threads.*'

# libFuzzer targets, each for FUZZ_SECONDS on a copy of its seed corpus.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = config_reader decode_print filter form_encode command_line
fuzz: deps
	cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DQUILLON_FUZZ=ON -DQUILLON_PYTHON=OFF -DQUILLON_NATIVE=OFF -DQUILLON_TESTS=OFF
	cmake --build build/fuzz -j $(JOBS)
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p build/fuzz/corpus/$$t && cp -n tests/fuzz/corpus/$$t/* build/fuzz/corpus/$$t/ 2>/dev/null; \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  build/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=4096 -max_len=65536 \
	    -print_final_stats=1 build/fuzz/corpus/$$t 2>&1 | grep -E '^(stat::number_of_executed_units|==|SUMMARY|Done)' ; \
	  test $${PIPESTATUS[0]} -eq 0 || exit 1; \
	done

# Wheels that install on Linux systems older than this one: the core, the
# native program and the documents are built once in $(PORTABLE) by zig's
# clang for glibc $(GLIBC_FLOOR) with its own libc++ linked in (cmake/), then
# each Python's wheel compiles only its extension module against them.
# auditwheel checks each wheel against the floor and tags it; libcurl stays the
# system's, loaded when the first request is made.
WHEEL_DIR   ?= dist
PORTABLE    ?= build/portable
GLIBC_FLOOR := 2.17
TOOLCHAIN   := cmake/zig-linux-glibc-$(GLIBC_FLOOR).cmake
ZIG          = $(shell $(PYTHON) -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')
# One CPython of each supported version found here: the version manager's, else on PATH.
PYENV_ROOT  ?= $(HOME)/.pyenv
WHEEL_PYTHONS ?= $(strip $(foreach v,10 11 12 13,$(or $(lastword $(wildcard $(PYENV_ROOT)/versions/3.$(v).*/bin/python3.$(v))),$(shell command -v python3.$(v) 2>/dev/null))))
WHEEL_BUILD = PYTHON=$(PYTHON) ZIG=$(ZIG) PORTABLE=$(PORTABLE) WHEEL_DIR=$(WHEEL_DIR) GLIBC_FLOOR=$(GLIBC_FLOOR) \
  TOOLCHAIN=$(TOOLCHAIN) QUILLON_WERROR=$(WERROR) scripts/build-wheel.sh

portable: deps
	cmake -S . -B $(PORTABLE) -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/$(TOOLCHAIN) \
	  -DZIG=$(ZIG) -DQUILLON_PYTHON=OFF -DQUILLON_TESTS=OFF -DQUILLON_WERROR=$(WERROR)
	cmake --build $(PORTABLE) -j $(JOBS) --target quillon_cli quillon_docs

# The wheel of $(PYTHON) only.
wheel: portable
	$(WHEEL_BUILD) $(PYTHON)

wheels: portable
	@test -n "$(WHEEL_PYTHONS)" || { echo "no CPython 3.10 to 3.13 found"; exit 1; }
	@for py in $(WHEEL_PYTHONS); do $(WHEEL_BUILD) $$py || exit 1; done

# Each wheel installed in a fresh virtual environment of its Python and run
# from outside the source tree.
wheel-check: wheels
	cd /tmp && env -u PYTHONPATH QUILLON_PYTHONS="$(WHEEL_PYTHONS)" QUILLON_WHEEL_DIR=$(CURDIR)/$(WHEEL_DIR) \
	  QUILLON_VENVS=$(CURDIR)/build/venv-wheel $(PYTHON) -m pytest -q -p no:cacheprovider $(CURDIR)/tests/install

# The native program as cmake --install lays it out (make test runs this one).
installed-check: build
	rm -rf build/install-check && cmake --install $(BUILD) --prefix $(CURDIR)/build/install-check > /dev/null
	@# The linked program finds the configuration directory installed beside the real one.
	build/install-check/bin/quillon --controller_ip 127.0.0.1:1 --password x 2>&1 | grep -q "Cannot reach https://127.0.0.1:1/v1/api"
	@# The man page and completions where man and the shells look under the prefix.
	cd build/install-check/share && ls man/man1/quillon.1 bash-completion/completions/quillon{,-py} \
	  zsh/site-functions/_quillon fish/vendor_completions.d/quillon{,-py}.fish > /dev/null

# The package as a user gets it: cmake --install, and every wheel in a fresh
# virtual environment of its Python. Building the portable core and four
# wheels costs more than the rest of make test together, so CI runs it as a
# step of its own (.ci/run).
install-check: installed-check wheel-check

demo: build
	$(PYTHON) tools/demo.py $(BUILD)

bench: build portable
	$(PYTHON) bench/run.py --build $(BUILD) --portable $(PORTABLE)

# Far more examples and fuzzing time than CI spends: every hypothesis test with
# the long profile, then each fuzz target for ten minutes.
fuzz-long: build
	QUILLON_LONG=1 $(PYTEST)
	$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=600

# Every C++ source of ours in the house style (.clang-format).
CXX_SOURCES = $(shell git ls-files 'src/*.cpp' 'src/*.hpp' 'tests/*.cpp' 'tests/*.hpp' 'bench/*.cpp' 2>/dev/null)
format: deps
	clang-format -i $(CXX_SOURCES)
format-check: deps
	@clang-format --dry-run -Werror $(CXX_SOURCES)

clean:
	rm -rf build
