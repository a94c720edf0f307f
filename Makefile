# Front door. `make demo` and `make test` are all a new checkout needs.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
DEMO_DIR   ?= demo
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 60

# Line tables only (-g1): backtraces and crash reports keep file and line,
# and a build on two cores stays well inside the CI's time.
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"

.PHONY: all deps build demo test test-asan test-tsan test-package package bench fuzz clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@scripts/demo.sh $(BUILD) $(DEMO_DIR)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 900
	$(MAKE) --no-print-directory test-asan
	$(MAKE) --no-print-directory test-package

# The Debian package: velmor_<version>_amd64.deb in the build folder.
package: build
	cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/velmor_*_amd64.deb

# The package checked by lintian, installed into a scratch root and run
# from there: the versions, and the player on a virtual display playing a
# recording through its control socket, writing only to the user's folders.
test-package: package
	@scripts/test-package.sh $(BUILD)

# The same tests once more with AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	@[ -f $(ASAN_BUILD)/build.ninja ] || cmake -S . -B $(ASAN_BUILD) $(CMAKE_FLAGS) -DVELMOR_SANITIZE=ON -DVELMOR_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1"
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 1800

# The tests that run threads against each other, with ThreadSanitizer: the
# store's readers against remounts, the sound queue, the trace switch, the
# event map, the windows' drawing threads and the play loop with its workers.
# Not part of `make test`.
TSAN_TARGETS = store_tests common_tests search_tests media_audio_tests media_window_tests playloop_tests
TSAN_TESTS = StoreConcurrency|SoundOutput|TraceSwitch|EventSecondMap|PlayerWindow|PlayLoopTest|PlayRequestTest|PlayClockTest
test-tsan: deps
	@[ -f $(TSAN_BUILD)/build.ninja ] || cmake -S . -B $(TSAN_BUILD) $(CMAKE_FLAGS) -DVELMOR_TSAN=ON -DVELMOR_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1"
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TARGETS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 1800 -R '$(TSAN_TESTS)'

bench: build
	@scripts/bench.sh $(BUILD)

# Coverage-guided fuzzing of the parsers (clang's libFuzzer), FUZZ_SECONDS each.
fuzz: deps
	@[ -f $(FUZZ_BUILD)/build.ninja ] || CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMOR_FUZZ=ON -DVELMOR_TESTS=OFF -DVELMOR_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(DEMO_DIR)
