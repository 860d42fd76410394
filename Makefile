# make demo: install what is missing, build, run against the simulated controller.
# make test: install what is missing, build, run every test.
PYTHON ?= python3
BUILD  ?= build/dev
JOBS   ?= $(shell nproc)
export PYTHONPATH := $(CURDIR)/$(BUILD)/python:$(PYTHONPATH)

.PHONY: deps build test unit pytest install-check demo bench fuzz sanitize clean

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=$$(command -v $(PYTHON))
	cmake --build $(BUILD) -j $(JOBS)

unit: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

pytest: build
	$(PYTHON) -m pytest -q tests/python

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	$(PYTHON) -m pytest -q tests/python
	$(MAKE) --no-print-directory install-check

# The package as a user gets it: pip install . and the console script.
install-check:
	$(PYTHON) -m pip install -q --no-build-isolation .
	cd /tmp && env -u PYTHONPATH $(PYTHON) -m pytest -q -p no:cacheprovider $(CURDIR)/tests/install

demo: build
	$(PYTHON) tools/demo.py $(BUILD)

bench: build
	$(PYTHON) bench/run.py --build $(BUILD)

clean:
	rm -rf build
