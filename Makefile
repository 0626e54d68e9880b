# make run   - install what is missing, build, start the program (the window)
# make scan  - the same for the headless scanner: make scan DIR=folder
# make test  - install what is missing, build, run every test (plain and sanitized)
# make bench - build and run the benchmarks
# make ci     - what CI runs: a format check, make test, a Release and a clang
#               build, the ThreadSanitizer tests and a short fuzz run
# make fuzz   - every fuzz target for FUZZ_SECONDS (clang, libFuzzer)
# make install - install the build (PREFIX=/usr/local, DESTDIR honoured)
# make deb     - the Debian package of the build, in $(BUILD)/package/

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
DIR        ?= .
CMAKE_FLAGS ?=
RELEASE_BUILD ?= build-release
CLANG_BUILD   ?= build-clang
TSAN_BUILD    ?= build-tsan
FUZZ_BUILD    ?= build-fuzz
FUZZ_SECONDS  ?= 60
PREFIX        ?= /usr/local
# Warnings are errors here and in CI; a plain cmake build leaves them warnings.
DEV_FLAGS   := -DCORVEXA_WERROR=ON
# ccache (scripts/packages.txt) keeps compiled objects outside the clone, in
# ~/.cache/ccache, so a second CI run or another work tree of the same sources
# on this machine compiles only what changed. Paths are hashed relative to the
# tree, so two clones share the cache.
DEV_FLAGS   += -DCORVEXA_CCACHE=ON
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
export CCACHE_MAXSIZE ?= 20G

.PHONY: all deps build build-asan build-release build-clang test test-plain test-asan test-tsan fuzz ci \
	install deb run scan bench clean format format-check

all: build

deps:
	@bash scripts/deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(DEV_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVEXA_SANITIZE=ON $(DEV_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)

# Release (GCC at -O3) and clang compile everything, warnings as errors; the
# tests above already ran the same code.
build-release: deps
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release $(DEV_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(RELEASE_BUILD) -j$(JOBS)

build-clang: deps
	CC=clang CXX=clang++ cmake -S . -B $(CLANG_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(DEV_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(CLANG_BUILD) -j$(JOBS)

test-plain: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS)

# The threaded parts under ThreadSanitizer: the collector, the window and its
# scan bridge, the threaded duplicate removal. Qt itself is not instrumented;
# tests/tsan.supp says what is suppressed and why.
TSAN_TESTS := engine_collector_test engine_parallel_scan_test ui_app_form_qtest results_dedup_test \
              engine_shared_list_test
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVEXA_TSAN=ON $(DEV_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target $(TSAN_TESTS)
	TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp" \
		ctest --test-dir $(TSAN_BUILD) --output-on-failure -j$(JOBS) -R '^($(subst $(eval) ,|,$(TSAN_TESTS)))$$'

# libFuzzer with ASan + UBSan (clang); each target runs FUZZ_SECONDS.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVEXA_FUZZ=ON \
		-DCORVEXA_BUILD_TESTS=OFF $(DEV_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target fuzz-targets
	bash fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# Everything CI runs, in the order it runs it.
ci: format-check test build-release build-clang test-tsan
	$(MAKE) fuzz FUZZ_SECONDS=30

# The sanitized run comes last, so CTest's summary of it ends the output.
test: test-plain test-asan

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# CPack runs the install rules into its staging folder; the tree is built first.
deb: build
	cpack --config $(BUILD)/CPackConfig.cmake -B $(BUILD)/package
	@ls -1 $(BUILD)/package/*.deb

run: build
	./$(BUILD)/bin/corvexa

scan: build
	./$(BUILD)/bin/corvexa-scan "$(DIR)"

bench: build
	bash bench/run.sh $(BUILD)

# Every C++ source under version control, formatted by .clang-format;
# format-check (part of make ci) fails on any file format would change.
FORMAT_FILES = git ls-files -z '*.cpp' '*.h'
format:
	$(FORMAT_FILES) | xargs -0 clang-format -i --style=file

format-check: deps
	$(FORMAT_FILES) | xargs -0 clang-format --dry-run -Werror --style=file

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(RELEASE_BUILD) $(CLANG_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
