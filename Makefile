# brindle: build and test entry points.
#   make setup  - install system packages, create .venv, install brindle, check the example
#   make test   - core unit tests (CTest) and the Python test suite (pytest)
#   make sanitize - both test suites under ASan+UBSan (sanitize-core: the core's only)
#   make fuzz   - every fuzz target for FUZZ_SECONDS each (default 60)
PYTHON ?= python3
VENV ?= .venv
BUILD ?= build
JOBS ?= 2

.PHONY: test core-test py-test install deps setup sanitize sanitize-core fuzz

test: core-test py-test

core-test:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DBRINDLE_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure

deps:
	bash scripts/install-deps.sh

$(VENV)/bin/python:
	$(PYTHON) -m venv $(VENV)

# Fresh machine to working command: system packages, .venv with brindle,
# then the bundled examples through the installed `brindle` command.
setup: deps install
	$(VENV)/bin/brindle check --strict examples/*.brindle
	$(VENV)/bin/brindle json examples/deploy.brindle
	$(VENV)/bin/brindle fmt --check examples/

# Reinstalls only when a file that goes into the package changed, so that
# `make setup` followed by `make test` builds the extension once.
PACKAGE_SOURCES := CMakeLists.txt pyproject.toml python/CMakeLists.txt \
	$(shell find syntax/src python/src python/brindle -type f -not -path '*/__pycache__/*' 2>/dev/null)
STAMP := $(VENV)/.brindle-installed

install: $(STAMP)

$(STAMP): $(VENV)/bin/python $(PACKAGE_SOURCES)
	$(VENV)/bin/python -m pip install -q --upgrade pip
	$(VENV)/bin/python -m pip install -q ".[test]"
	touch $@

py-test: install
	$(VENV)/bin/python -m pytest -q tests

sanitize: install
	bash scripts/sanitize.sh

sanitize-core:
	bash scripts/sanitize.sh core

fuzz: install
	bash scripts/fuzz.sh
