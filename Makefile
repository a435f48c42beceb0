# Vorlo2 — top-level entry points.  `make run` and `make test` work on a fresh
# Debian machine: both install what is missing first (as root).
JOBS    ?= $(shell nproc)
BUILD   ?= build
CMAKE_FLAGS ?=

.PHONY: deps configure build test test-asan test-tsan fuzz run bench clean

deps:
	@bash tools/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The whole test suite again with AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORLO_SANITIZE=ON -DVORLO_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/.ci/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# The whole test suite with ThreadSanitizer, one process per test class.
# die_after_fork=0: QProcess starts a child program from a vfork-like clone
# that shares the parent's memory, so TSan takes the child's start for its
# own process and would stop the test; it goes on instead (the thread that
# started the program is no longer checked, hence one process per class).
test-tsan: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLO_TSAN=ON -DVORLO_BENCH=OFF
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && QT_QPA_PLATFORM=offscreen \
	  TSAN_OPTIONS=halt_on_error=1:die_after_fork=0:suppressions=$(CURDIR)/.ci/tsan.supp \
	  ctest --output-on-failure -j $(JOBS)

# Every libFuzzer target for a few seconds with ASan and UBSan (clang).
fuzz: deps
	bash tools/run-fuzz.sh

run: build
	bash tools/run-demo.sh $(BUILD)

bench: build
	@for b in $(BUILD)/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
