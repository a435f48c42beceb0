# Vorlo2 — top-level entry points. On a fresh Debian machine each target first
# installs the packages it needs (as root; as another user it prints the
# apt-get line to run):
#   make run     the program and the phantom tool only, then the demo
#   make test    the program, the phantom tool and the test programs, then every test
#   make bench   everything, then every benchmark
#   make fuzz    clang's fuzzing toolchain, then a short run of every fuzz target
JOBS    ?= $(shell nproc)
BUILD   ?= build
CMAKE_FLAGS ?=

.PHONY: deps deps-bench deps-fuzz configure build build-run build-test test test-asan test-tsan \
        fuzz run bench screenshot clean

# The purposes of tools/install-deps.sh a target needs; the tests and the
# benchmarks run mpirun as well (the program itself does not need it).
DEPS = build
test build-test test-asan test-tsan: DEPS = build mpi

deps:
	@bash tools/install-deps.sh $(DEPS)

deps-bench:
	@bash tools/install-deps.sh build bench mpi

deps-fuzz:
	@bash tools/install-deps.sh build fuzz

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

# Everything that is configured, the benchmarks included.
build: configure
	cmake --build $(BUILD) -j $(JOBS)

build-run: configure
	cmake --build $(BUILD) -j $(JOBS) --target vorlo2 vorlo2-phantom

build-test: configure
	cmake --build $(BUILD) -j $(JOBS) --target vorlo_tests

test: build-test
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
fuzz: deps-fuzz
	bash tools/run-fuzz.sh

# The demo runs in English; `make run DEMO_LANG=ja` shows the Japanese window.
run: build-run
	DEMO_LANG=$(DEMO_LANG) bash tools/run-demo.sh $(BUILD)

bench: deps-bench configure
	cmake --build $(BUILD) -j $(JOBS)
	@for b in $(BUILD)/bench_*; do [ -x "$$b" ] && "$$b"; done

# The window with the demo scan loaded, as docs/window.png (under Xvfb).
screenshot: build-run
	@bash tools/install-deps.sh screenshot
	bash tools/screenshot.sh $(BUILD)

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
