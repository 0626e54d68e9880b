# make run   - install what is missing, build, start the program (the window)
# make scan  - the same for the headless scanner: make scan DIR=folder
# make test  - install what is missing, build, run every test (plain and sanitized)
# make bench - build and run the benchmarks

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
DIR        ?= .
CMAKE_FLAGS ?=

.PHONY: all deps build build-asan test test-plain test-asan run scan bench clean format

all: build

deps:
	@bash scripts/deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVEXA_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)

test-plain: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS)

# The sanitized run comes last, so CTest's summary of it ends the output.
test: test-plain test-asan

run: build
	./$(BUILD)/bin/corvexa

scan: build
	./$(BUILD)/bin/corvexa-scan "$(DIR)"

bench: build
	bash bench/run.sh $(BUILD)

format:
	find src tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
