# make demo   build the module and run examples/demo.py
# make check  the quick loop while changing the code: the format check, the native
#             unit tests and pytest over the build tree
# make test   every test: a format check, native unit tests, pytest (also with the
#             portable kernel forced), the typed stub against the module, the
#             documentation's examples, pytest under the sanitizers (the threaded tests
#             under the thread sanitizer) and under the debug interpreter (reference
#             leaks), a short fuzz run, a compile against the
#             free-threaded object layout, the native tests built for aarch64 and run
#             under emulation, the wheels installed and tested where there is no
#             compiler (the aarch64 one under emulation), and the sdist built with
#             the oldest GCC; warnings are errors
# Both end with a table of each stage's wall time (tools/timed).
# make wheels        the manylinux wheels for CPython 3.13, 3.14 and 3.15 on x86-64
#                    and aarch64, into $(DIST)
# make sdist         the source distribution, into $(DIST)
# make docs          the documentation as HTML in $(BUILD)/docs
# make bench-report  every benchmark next to its peers, as tables and charts in docs/benchmarks
# make coverage      line and branch coverage per layer, and as HTML in $(COV_BUILD)/coverage
# All run inside the project's CPython toolchain (tools/toolchain) unless
# $(PYTHON) (python3.14 unless named, as in PYTHON=python3.15) with headers and
# pytest is already on the PATH.

PYTHON ?= python3.14
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
COV_BUILD ?= build-cov
DEBUG_BUILD ?= build-dbg
FUZZ_BUILD ?= build-fuzz
# One for each interpreter a report is made on (PYTHON=python3.15).
BENCH_BUILD ?= build-bench-$(PYTHON)
# The report names the commit it measured; inside the toolchain a worktree's
# history may be out of reach, so the host's answer is handed in.
QUORVANE_COMMIT ?= $(shell git describe --always --dirty 2>/dev/null)
ARM64_BUILD ?= build-aarch64
# The arm64 root tools/toolchain provisions, seen at the same path inside
# the x86 root.
ARM64_ROOT ?= $(or $(QUORVANE_ARM64_ROOT),/var/cache/quorvane/arm64-root)
DIST ?= dist
# The newest glibc (2.N) the wheels may need: auditwheel tags each with the
# oldest glibc it loads on, and a wheel that needs a newer one than this fails.
WHEEL_GLIBC_FLOOR = 28
WHEEL_VERSIONS = 3.13 3.14 3.15
WHEEL_ARCHS = x86_64 aarch64
# The wheel of a version ($(1)) for an architecture ($(2)).
wheel = $(DIST)/quorvane-$(VERSION)-cp$(subst .,,$(1))-cp$(subst .,,$(1))-*_$(2).whl
# Debian 13's interpreter, whose wheels are tested in roots of that release
# (unstable's packages are built for the newer ones).
TRIXIE_VERSION = 3.13
root_for = $(if $(filter $(TRIXIE_VERSION),$(2)),$(1)-trixie,$(1))
VERSION := $(shell sed -n 's/^version = "\(.*\)"/\1/p' pyproject.toml)

HAVE_PY := $(shell $(PYTHON) -c "import sysconfig, os, pytest; assert os.path.exists(sysconfig.get_path('include') + '/Python.h')" 2>/dev/null && echo yes)
ifeq ($(HAVE_PY)$(QUORVANE_IN_TOOLCHAIN),)
IN_TOOLCHAIN := tools/toolchain run env QUORVANE_IN_TOOLCHAIN=1 PYTHON=$(PYTHON)
endif

# Warnings fail the project's own builds; `pip install .` leaves them warnings.
CMAKE_FLAGS := -G Ninja -DQUORVANE_WERROR=ON -DPython_EXECUTABLE=$$(command -v $(PYTHON))
CXX_SOURCES = $$(find platform structural src tests fuzz bench -name '*.h' -o -name '*.cpp')

.PHONY: demo check test build build-asan build-dbg test-format test-native test-python test-python-scalar \
        test-stubs test-sanitized test-sanitized-malloc test-sanitized-malloc-interpreters \
        test-sanitized-pools test-refleaks test-refleaks-pools \
        test-refleaks-allocator test-valgrind test-valgrind-first test-valgrind-second test-valgrind-all test-huge test-fuzz \
        test-free-threaded test-docs docs test-aarch64 test-toolchain wheels sdist test-wheels \
        test-wheels-aarch64-slice-first test-wheels-aarch64-slice-second test-wheels-aarch64-all \
        test-wheels-aarch64-first test-wheels-aarch64-second \
        test-source bench bench-report clean coverage build-tsan test-tsan

demo:
ifdef IN_TOOLCHAIN
	$(IN_TOOLCHAIN) $(MAKE) demo
else
	$(MAKE) build
	PYTHONPATH=$(BUILD) $(PYTHON) examples/demo.py
endif

# Each stage's wall time goes to $(STAGE_TIMES); the run stops at the first
# stage that fails and prints the table either way. A caller that prints the
# table itself passes STAGE_TABLE=no.
STAGE_TIMES = $(BUILD)/stage-times
TIMED = tools/timed $(STAGE_TIMES)
define timed_stages
	@[ "$(STAGE_TABLE)" = no ] || rm -f $(STAGE_TIMES); \
	status=0; for stage in $(1); do \
	    $(TIMED) $$stage $(MAKE) $$stage || { status=$$?; break; }; \
	done; \
	[ "$(STAGE_TABLE)" = no ] || $(TIMED); exit $$status
endef

check:
ifdef IN_TOOLCHAIN
	$(IN_TOOLCHAIN) $(MAKE) check
else
	$(call timed_stages,test-format test-native test-python)
endif

test:
ifdef IN_TOOLCHAIN
	@rm -f $(STAGE_TIMES); \
	$(TIMED) setup-roots sh -c 'tools/toolchain setup-arm64 >/dev/null & roots=$$!; \
	    tools/toolchain setup-wheels >/dev/null && wait $$roots' && \
	$(TIMED) test-toolchain $(MAKE) test-toolchain && \
	$(IN_TOOLCHAIN) $(MAKE) test STAGE_TABLE=no; \
	status=$$?; $(TIMED); exit $$status
else
	$(call timed_stages,test-format test-native test-python test-python-scalar test-stubs test-docs \
	    test-sanitized test-tsan test-refleaks test-valgrind test-huge test-fuzz test-free-threaded \
	    test-aarch64 test-wheels test-source)
endif

build:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD)

build-asan:
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DQUORVANE_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_BUILD)

test-format:
	clang-format --dry-run --Werror $(CXX_SOURCES)

test-native: build
	ctest --test-dir $(BUILD) --output-on-failure

test-python: build
	PYTHONPATH=$(BUILD) $(PYTHON) -m pytest -q tests/module

# The reader's results must not depend on the kernel the processor allows.
test-python-scalar: build
	PYTHONPATH=$(BUILD) QUORVANE_KERNEL=scalar $(PYTHON) -m pytest -q -p no:cacheprovider \
	    tests/module/test_read.py tests/module/test_read_dense.py tests/module/test_read_differential.py

# The typed stub against the built module.
test-stubs: build
	PYTHONPATH=$(BUILD) MYPYPATH=stubs $(PYTHON) -m mypy.stubtest quorvane \
	    --allowlist stubs/stubtest-allowlist.txt

# Sphinx over docs/, warnings as errors, with the module just built rather
# than an installed one: the HTML pages, and the pages' examples run as doctests.
SPHINX = PYTHONPATH=$(BUILD) $(PYTHON) -m sphinx -W --keep-going -q

docs:
ifdef IN_TOOLCHAIN
	$(IN_TOOLCHAIN) $(MAKE) docs
else
	$(MAKE) build
	$(SPHINX) -b html docs $(BUILD)/docs
	@echo "documentation: $(BUILD)/docs/index.html"
endif

# The pages' examples, then README.md's, top to bottom, in a scratch folder so
# that the files they write stay out of the checkout.
test-docs:
ifdef IN_TOOLCHAIN
	$(IN_TOOLCHAIN) $(MAKE) test-docs
else
	$(MAKE) build
	$(SPHINX) -b doctest docs $(BUILD)/docs-doctest
	scratch=$$(mktemp -d) && cd $$scratch && \
	    PYTHONPATH=$(abspath $(BUILD)) $(PYTHON) -m doctest $(CURDIR)/README.md; \
	    status=$$?; rm -rf $$scratch; exit $$status
endif

# The interpreter is not built with the sanitizers, so their runtime is
# preloaded; PYTHONMALLOC=malloc lets them see every allocation. The files
# that make and drop the most nodes run again with the interpreter's own
# allocator, which leaves nodes in the module's pools, poisoned while free.
SANITIZED = PYTHONPATH=$(ASAN_BUILD) \
    LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
    ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    QUORVANE_SANITIZED=1 $(PYTHON) -m pytest -q -p no:cacheprovider
# Three runs of pytest, two at a time, each on one core: the suite under
# malloc but for the file that runs much of it again in an isolated
# interpreter, first, as the longest; then that file, and the pools' run.
test-sanitized: build-asan
	ctest --test-dir $(ASAN_BUILD) --output-on-failure
	$(MAKE) -j2 --output-sync=target test-sanitized-malloc test-sanitized-malloc-interpreters \
	    test-sanitized-pools

test-sanitized-malloc:
	PYTHONMALLOC=malloc $(SANITIZED) tests/module --ignore=tests/module/test_interpreters.py

test-sanitized-malloc-interpreters:
	PYTHONMALLOC=malloc $(SANITIZED) tests/module/test_interpreters.py

test-sanitized-pools:
	$(SANITIZED) tests/module/test_node.py tests/module/test_read.py tests/module/test_pickle.py \
	    tests/module/test_dict.py tests/module/test_interpreters.py

# The thread sanitizer over the native tests and the tests that run the
# module on several threads: the interpreter is not built with it, so its
# runtime is preloaded, and reports whose frames all lie in the interpreter
# are suppressed (tools/tsan.supp); any other report fails the run. Left
# out: test_interrupts.py, as the sanitizer holds a signal back until its
# thread calls into the C library, which a walk that waits for Ctrl-C never does.
TSAN_TESTS = tests/module/test_threads.py tests/module/test_fork.py \
    tests/module/test_write.py::test_threads_write_the_same_tree_at_once \
    tests/module/test_write.py::test_interrupted_writes_are_retried \
    tests/module/test_write.py::test_a_pipe_whose_reader_has_gone_is_a_broken_pipe \
    tests/module/test_read.py::test_read_file_reads_a_pipe_whose_size_is_unknown \
    tests/module/test_read_inputs.py::test_a_bytearray_changed_by_another_thread_reads_as_one_of_its_states \
    tests/module/test_interpreters.py::test_interpreters_read_and_write_at_once_while_another_comes_and_goes
TSAN_OPTIONS := suppressions=$(CURDIR)/tools/tsan.supp second_deadlock_stack=1 history_size=4

build-tsan:
	cmake -S . -B $(TSAN_BUILD) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVANE_TSAN=ON >/dev/null
	cmake --build $(TSAN_BUILD)

test-tsan: build-tsan
	TSAN_OPTIONS="$(TSAN_OPTIONS)" ctest --test-dir $(TSAN_BUILD) --output-on-failure
	PYTHONPATH=$(TSAN_BUILD) PYTHONMALLOC=malloc LD_PRELOAD="$$(g++ -print-file-name=libtsan.so)" \
	    TSAN_OPTIONS="$(TSAN_OPTIONS)" QUORVANE_SANITIZED=1 \
	    $(PYTHON) -m pytest -q -p no:cacheprovider --capture=sys $(TSAN_TESTS)

# A report, not a test: line and branch coverage (gcov, GCC) of the native
# tests, a replay of every fuzz target's corpus and pytest together, per
# layer, and as HTML pages under
# $(COV_BUILD)/coverage. Lines that throw and branches the compiler proves
# unreachable are left out of the branch counts.
GCOVR = gcovr -r . -j 2 --filter 'platform/' --filter 'structural/' --filter 'src/' \
    --exclude-throw-branches --exclude-unreachable-branches

coverage:
ifdef IN_TOOLCHAIN
	$(IN_TOOLCHAIN) $(MAKE) coverage
else
	CXX=g++ cmake -S . -B $(COV_BUILD) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DQUORVANE_COVERAGE=ON >/dev/null
	cmake --build $(COV_BUILD)
	find $(COV_BUILD) -name '*.gcda' -delete
	rm -rf $(COV_BUILD)/coverage && mkdir -p $(COV_BUILD)/coverage
	ctest --test-dir $(COV_BUILD) --output-on-failure
	PYTHONPATH=$(COV_BUILD) $(PYTHON) -m pytest -q -p no:cacheprovider tests/module
	$(GCOVR) --json-summary $(COV_BUILD)/coverage.json --html-nested $(COV_BUILD)/coverage/index.html $(COV_BUILD)
	$(PYTHON) tools/coverage_layers.py $(COV_BUILD)/coverage.json
	@echo "coverage report: $(COV_BUILD)/coverage/index.html"
endif

# The debug interpreter counts every reference, so leaks show up as growth.
build-dbg:
	cmake -S . -B $(DEBUG_BUILD) -G Ninja -DQUORVANE_WERROR=ON -DCMAKE_BUILD_TYPE=Debug \
	    -DQUORVANE_TESTS=OFF -DPython_EXECUTABLE=$$(command -v $(PYTHON)d) >/dev/null
	cmake --build $(DEBUG_BUILD)

# Twice, side by side: nodes cut from the module's own pools, and nodes from
# the interpreter's allocator, where the injected allocation failures reach them.
REFLEAKS = PYTHONPATH=$(DEBUG_BUILD) $(PYTHON)d -m pytest -q -p no:cacheprovider tests/module/test_references.py
test-refleaks: build-dbg
	$(MAKE) -j2 --output-sync=target test-refleaks-pools test-refleaks-allocator

test-refleaks-pools:
	$(REFLEAKS)

test-refleaks-allocator:
	PYTHONMALLOC=pymalloc_debug $(REFLEAKS)

# No free-threaded interpreter is available here, so the module is at least
# compiled against the free-threaded object layout, warnings as errors.
test-free-threaded:
	for source in $$(find src -name '*.cpp'); do \
	    $(CXX) -std=c++23 -fsyntax-only -Wall -Wextra -Werror -DPy_GIL_DISABLED -I. \
	        $$($(PYTHON)-config --includes) $$source || exit 1; \
	done

# valgrind's memcheck under every allocation (PYTHONMALLOC=malloc): no invalid
# read or write and no definite leak. The whole suite takes about twenty
# minutes, so make test runs the files of the main operations. Left out:
# forking and worker processes, as valgrind judges each child on its own
# exit, and a 1 ms interval timer, whose signals valgrind delivers late
# enough to reach the default handler restored after it.
VALGRIND = PYTHONPATH=$(BUILD) PYTHONMALLOC=malloc QUORVANE_SANITIZED=1 valgrind --tool=memcheck \
    --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
    --error-exitcode=99 --num-callers=30 $(PYTHON) -m pytest -q -p no:cacheprovider \
    --deselect tests/module/test_write.py::test_interrupted_writes_are_retried
# In two halves side by side.
VALGRIND_FIRST_HALF = tests/module/test_read.py tests/module/test_pickle.py tests/module/test_arguments.py
VALGRIND_SECOND_HALF = tests/module/test_node.py tests/module/test_write.py tests/module/test_search.py \
    tests/module/test_dict.py

test-valgrind: build
	$(MAKE) -j2 --output-sync=target test-valgrind-first test-valgrind-second

test-valgrind-first:
	$(VALGRIND) $(VALGRIND_FIRST_HALF)

test-valgrind-second:
	$(VALGRIND) $(VALGRIND_SECOND_HALF)

test-valgrind-all: build
	$(VALGRIND) tests/module --ignore=tests/module/test_fork.py \
	    --ignore=tests/module/test_corpus_example.py

# Documents past 4 GiB, through read_string and read_file: about 5 GiB of
# memory, and a 4 GiB file in the build tree rather than in /tmp, which the
# toolchain keeps in memory.
test-huge: build
	mkdir -p $(BUILD)/huge
	TMPDIR=$(BUILD)/huge PYTHONPATH=$(BUILD) QUORVANE_HUGE=1 $(PYTHON) -m pytest -q \
	    -p no:cacheprovider tests/module/test_huge.py

# A short libFuzzer run over the structural index (clang only).
test-fuzz:
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(CMAKE_FLAGS) -DQUORVANE_FUZZ=ON >/dev/null
	cmake --build $(FUZZ_BUILD) --target fuzz_structural fuzz_read_text fuzz_read_file fuzz_write \
	    fuzz_restore
	ctest --test-dir $(FUZZ_BUILD) -L fuzz -j2 --output-on-failure

# aarch64 Linux: the native tests cross-built by clang against the arm64 root
# (tools/aarch64.cmake), then run under qemu's user-mode emulation; the
# module is tested there as users get it, from its wheel (test-wheels).
test-aarch64:
ifdef IN_TOOLCHAIN
	tools/toolchain setup-arm64 >/dev/null
	$(IN_TOOLCHAIN) $(MAKE) test-aarch64
else
	cmake -S . -B $(ARM64_BUILD) -G Ninja -DQUORVANE_WERROR=ON \
	    -DCMAKE_TOOLCHAIN_FILE=tools/aarch64.cmake -DQUORVANE_SYSROOT=$(ARM64_ROOT) >/dev/null
	cmake --build $(ARM64_BUILD)
	ctest --test-dir $(ARM64_BUILD) --output-on-failure
endif

# The toolchain from a clone in a folder of its own under /tmp, which its
# roots hide unless it binds the checkout on top of their own /tmp. Run on
# the host, as it tests the toolchain itself.
test-toolchain:
	tools/test-toolchain

# Wheels for CPython 3.13, 3.14 and 3.15 on x86-64 and aarch64 Linux, built
# against a sysroot of an old glibc (tools/manylinux.cmake, tools/sysroot:
# GCC for x86-64, clang for aarch64), each checked and tagged by auditwheel;
# two at a time, as a profile-guided build spends a while on one core
# training.
wheels:
ifdef IN_TOOLCHAIN
	tools/toolchain setup-arm64 >/dev/null
	tools/toolchain setup-wheels >/dev/null
	$(IN_TOOLCHAIN) $(MAKE) wheels
else
	mkdir -p $(DIST)
	rm -rf $(DIST)/quorvane-*.whl $(BUILD)/wheels
	$(MAKE) -j2 --output-sync=target \
	    $(foreach version,$(WHEEL_VERSIONS),$(addprefix wheel-$(version)-,$(WHEEL_ARCHS)))
	ls -l $(DIST)/quorvane-*.whl
endif

# wheel-VERSION-ARCH: one wheel, built by pip on that version's interpreter,
# which names the wheel's tags.
wheel-%:
	version=$(firstword $(subst -, ,$*)); arch=$(lastword $(subst -, ,$*)); \
	_PYTHON_HOST_PLATFORM=linux-$$arch python$$version -m pip wheel -q --no-build-isolation --no-deps \
	    -w $(BUILD)/wheels/$* -C build-dir=$(BUILD)/wheel-$* \
	    -C cmake.define.CMAKE_TOOLCHAIN_FILE=tools/manylinux.cmake \
	    -C cmake.define.QUORVANE_WHEEL_ARCH=$$arch -C cmake.define.QUORVANE_WHEEL_PYTHON=python$$version \
	    -C cmake.define.QUORVANE_ARM64_ROOT=$(ARM64_ROOT) . && \
	auditwheel repair --plat auto -w $(DIST) $(BUILD)/wheels/$*/quorvane-*.whl && \
	glibc=$$(ls $(call wheel,$(firstword $(subst -, ,$*)),$(lastword $(subst -, ,$*))) | \
	    sed -n 's/.*manylinux_2_\([0-9]*\)_.*/\1/p') && \
	{ [ "$$glibc" -le $(WHEEL_GLIBC_FLOOR) ] || \
	    { echo "the $* wheel needs glibc 2.$$glibc, newer than 2.$(WHEEL_GLIBC_FLOOR)" >&2; exit 1; }; }

sdist:
ifdef IN_TOOLCHAIN
	$(IN_TOOLCHAIN) $(MAKE) sdist
else
	rm -f $(DIST)/quorvane-*.tar.gz
	$(PYTHON) -m build -q --sdist --no-isolation --outdir $(DIST) .
endif

# What users install, tested where they would install it: each wheel in a
# root with its interpreter and the test tools but no compiler or CMake, the
# suite run against the installed package (tools/test-installed), and mypy
# finding its types there; the 3.13 wheels in roots of Debian 13. The x86-64
# wheels run the whole suite. The aarch64 ones run under emulation, where a
# test takes tens of times its native time: there the 3.14 wheel runs the
# files that reach what depends on the architecture (the kernels, the index,
# UTF-8, pickling and the writer), in two halves side by side, and the 3.13
# and 3.15 wheels the differential tests and pickling, less their documents
# of millions of nodes, which the 3.14 wheel reads there and which spend
# their time in the same native code on every version; the other files test
# the same code on either architecture, which every other stage runs
# natively. The whole suite runs there by make test-wheels-aarch64-all, which
# a change to the kernels or to platform/ runs before it lands. Left out
# under emulation, skipped by QUORVANE_EMULATED: the address-space caps,
# which the emulator keeps from the system.
ARM64_SLICE_FIRST = test_read.py test_read_dense.py test_read_inputs.py test_pickle.py test_module.py
ARM64_SLICE_SECOND = test_read_differential.py test_write.py test_write_differential.py \
    test_write_outputs.py
ARM64_VERSION_SLICE = test_read_differential.py test_write_differential.py test_pickle.py \
    -k 'not large_documents and not million'
ARM64_FIRST_HALF = test_write_differential.py test_read_scale.py test_pickle.py \
    test_interrupts.py test_fork.py
INSTALLED_ARM64 = tools/toolchain run-arm64 env QUORVANE_EMULATED=1 tools/test-installed \
    $(call wheel,3.14,aarch64)

# The slowest first, so that the two at a time end together.
test-wheels: wheels
	$(MAKE) -j2 --output-sync=target test-wheels-aarch64-slice-first test-wheels-aarch64-slice-second \
	    $(addprefix test-wheel-aarch64-,$(filter-out 3.14,$(WHEEL_VERSIONS))) \
	    $(addprefix test-wheel-x86_64-,$(WHEEL_VERSIONS))

test-wheel-x86_64-%:
	tools/toolchain $(call root_for,run-clean,$*) tools/test-installed $(call wheel,$*,x86_64) \
	    --typed tests/installed/typed_use.py

test-wheel-aarch64-%:
	tools/toolchain $(call root_for,run-arm64,$*) env QUORVANE_EMULATED=1 tools/test-installed \
	    $(call wheel,$*,aarch64) $(patsubst test_%,tests/module/test_%,$(ARM64_VERSION_SLICE))

test-wheels-aarch64-slice-first:
	$(INSTALLED_ARM64) $(addprefix tests/module/,$(ARM64_SLICE_FIRST))

test-wheels-aarch64-slice-second:
	$(INSTALLED_ARM64) $(addprefix tests/module/,$(ARM64_SLICE_SECOND))

test-wheels-aarch64-all: wheels
	$(MAKE) -j2 --output-sync=target test-wheels-aarch64-first test-wheels-aarch64-second

test-wheels-aarch64-first:
	$(INSTALLED_ARM64) $(addprefix tests/module/,$(ARM64_FIRST_HALF))

test-wheels-aarch64-second:
	$(INSTALLED_ARM64) tests/module $(addprefix --ignore=tests/module/,$(ARM64_FIRST_HALF))

# The sdist built and installed by pip with the oldest GCC that builds the
# code and the oldest interpreter, in a root of Debian 13 that has only what
# the README asks for building from source; then the whole suite against what
# it installed.
test-source: sdist
	tools/toolchain run-source env CXX=g++-12 tools/test-installed $(DIST)/quorvane-$(VERSION).tar.gz

# Every native and Python benchmark, printing tables; the first that fails
# fails the target.
bench:
ifdef IN_TOOLCHAIN
	$(IN_TOOLCHAIN) $(MAKE) bench
else
	cmake -S . -B $(BUILD) -G Ninja -DQUORVANE_BENCH=ON -DPython_EXECUTABLE=$$(command -v $(PYTHON)) >/dev/null
	cmake --build $(BUILD)
	for b in $(BUILD)/bench/*/bench_*; do if [ -x "$$b" ]; then "$$b" || exit 1; fi; done
	tools/fetch-documents
	for b in bench/bench_*.py; do PYTHONPATH=$(BUILD) $(PYTHON) "$$b" || exit 1; done
endif

# A release build of its own, profile-guided as the packages are, whatever
# configuration $(BUILD) has; the report replaces every file in
# docs/benchmarks (REPORT_ARGS=--quick for a short trial run).
bench-report:
ifdef IN_TOOLCHAIN
	$(IN_TOOLCHAIN) $(MAKE) bench-report QUORVANE_COMMIT=$(QUORVANE_COMMIT) REPORT_ARGS='$(REPORT_ARGS)'
else
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_TESTS=OFF \
	    -DQUORVANE_PROFILE_GUIDED=ON -DPython_EXECUTABLE=$$(command -v $(PYTHON)) >/dev/null
	cmake --build $(BENCH_BUILD) --target quorvane
	tools/fetch-documents
	PYTHONPATH=$(BENCH_BUILD) QUORVANE_COMMIT=$(QUORVANE_COMMIT) $(PYTHON) bench/report.py $(REPORT_ARGS)
endif

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(DEBUG_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD) $(ARM64_BUILD) \
	    $(TSAN_BUILD) $(COV_BUILD) $(DIST)
