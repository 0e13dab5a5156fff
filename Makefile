# Two commands do all set-up from a clean clone:
#   make demo   builds the package into .venv and runs the example fit
#   make test   builds everything and runs the C++ and Python test suites
SHELL := /bin/bash
PYTHON ?= python3
VENV ?= .venv
PY := $(abspath $(VENV))/bin/python
CMAKE := $(abspath $(VENV))/bin/cmake
CTEST := $(abspath $(VENV))/bin/ctest
JOBS ?= $(shell nproc)
DEPS_STAMP := $(VENV)/.deps-installed
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all demo build test test-cpp test-python sanitize bench bench-cpp gtest clean

all: build

$(DEPS_STAMP): requirements-build.txt
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install --quiet --upgrade pip
	$(PY) -m pip install --quiet -r requirements-build.txt
	touch $@

# The package, installed (not editable) into .venv; the CMake build tree is kept
# in build/python so rebuilds are incremental.
build: $(DEPS_STAMP)
	$(PY) -m pip install --quiet --no-build-isolation --no-deps --force-reinstall \
	    -Cbuild-dir=build/python .

DEMO_STAMP := $(VENV)/.demo-deps-installed
$(DEMO_STAMP): requirements-demo.txt $(DEPS_STAMP)
	$(PY) -m pip install --quiet -r requirements-demo.txt
	touch $@

demo: build $(DEMO_STAMP)
	MPLBACKEND=Agg $(PY) examples/demo.py

# GoogleTest comes from Debian's libgtest-dev.
gtest:
	@if [ ! -f /usr/include/gtest/gtest.h ]; then \
	    echo "installing libgtest-dev"; \
	    $(SUDO) apt-get update -qq && $(SUDO) apt-get install -y -qq libgtest-dev; \
	fi

define cpp_tests
	$(CMAKE) -S . -B $(1) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELUN_BUILD_PYTHON=OFF \
	    -DPELUN_BUILD_TESTS=ON -DPELUN_BUILD_BENCH=ON -DPython_EXECUTABLE=$(PY) $(2)
	$(CMAKE) --build $(1) -j $(JOBS)
	$(CTEST) --test-dir $(1) --output-on-failure -j $(JOBS)
endef

test-cpp: $(DEPS_STAMP) gtest
	$(call cpp_tests,build/cpp,)

test-python: build
	$(PY) -m pytest tests/python -q

test: test-cpp test-python

# The C++ suite and the Python suite under AddressSanitizer and UBSan. The
# instrumented extension goes to build/asan-site, ahead of .venv on the path.
ASAN_ENV = ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LD_PRELOAD=$$(gcc -print-file-name=libasan.so):$$(gcc -print-file-name=libubsan.so) \
    LD_LIBRARY_PATH=$$($(PY) -c 'import scipy_openblas32 as m; print(m.get_lib_dir())') \
    PYTHONPATH=$(abspath build/asan-site)
sanitize: $(DEPS_STAMP) gtest
	$(call cpp_tests,build/cpp-asan,-DPELUN_SANITIZE=ON)
	rm -rf build/asan-site
	$(PY) -m pip install --quiet --no-build-isolation --no-deps --target build/asan-site \
	    -Cbuild-dir=build/python-asan -Ccmake.define.PELUN_SANITIZE=ON -Ccmake.build-type=RelWithDebInfo .
	$(ASAN_ENV) $(PY) -c 'import pelun; assert "asan-site" in pelun.__file__, pelun.__file__'
	$(ASAN_ENV) $(PY) -m pytest tests/python -q -p no:cacheprovider

# Side-by-side benchmark of pelun against pygam and statsmodels' GLMGam (bench/compare.py), in its own
# virtual environment .venv-bench: the build requirements and the peers pinned in
# bench/requirements-peers.txt from PyPI, pelun from this tree with `pip install .` (symbol table kept
# for the profile). Writes bench/RESULTS.md, bench/results.json and the plots; about 25 minutes on 2 cores.
# BENCH_ARGS passes options to bench/compare.py, e.g. BENCH_ARGS="--quick --out /tmp/bench-quick".
BENCH_VENV ?= .venv-bench
BENCH_PY := $(abspath $(BENCH_VENV))/bin/python
BENCH_STAMP := $(BENCH_VENV)/.deps-installed
BENCH_ARGS ?=

$(BENCH_STAMP): requirements-build.txt bench/requirements-peers.txt
	$(PYTHON) -m venv $(BENCH_VENV)
	$(BENCH_PY) -m pip install --quiet --upgrade pip
	$(BENCH_PY) -m pip install --quiet -r requirements-build.txt -r bench/requirements-peers.txt
	touch $@

bench: $(BENCH_STAMP)
	$(BENCH_PY) -m pip install --quiet --no-build-isolation --no-deps --force-reinstall \
	    -Cbuild-dir=build/bench-python -Cinstall.strip=false .
	$(BENCH_PY) bench/compare.py $(BENCH_ARGS)

# C++ micro-benchmarks of the hot kernels (bench/cpp/*_bench.cpp).
bench-cpp: $(DEPS_STAMP)
	$(CMAKE) -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELUN_BUILD_PYTHON=OFF \
	    -DPELUN_BUILD_BENCH=ON -DPython_EXECUTABLE=$(PY)
	$(CMAKE) --build build/bench -j $(JOBS)
	@for b in build/bench/bench/cpp/*_bench; do [ -x "$$b" ] && "$$b"; done; true

clean:
	rm -rf build $(VENV)
