# The two commands of the quick start:
#   make run    installs what is missing, builds, and opens the player on the demo songs
#   make test   installs what is missing, builds, and runs every test (normal, ASan+UBSan, TSan)
JOBS ?= $(shell nproc)
BUILD ?= build

.PHONY: run test deps build test-normal test-asan test-tsan bench clean fuzz-build fuzz fuzz-smoke

run: deps build
	cd demo && ../$(BUILD)/app/tuvimoplayer2

deps:
	./scripts/install-deps.sh

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

test: deps test-normal test-asan test-tsan

test-normal:
	cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRKV_WERROR=ON
	cmake --build build-test -j $(JOBS)
	cd build-test && ctest --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DRKV_WERROR=ON \
	  -DRKV_SANITIZE=address,undefined -DRKV_BUILD_BENCH=OFF -DRKV_BUILD_TOOLS=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# The concurrency tests under ThreadSanitizer.
test-tsan:
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRKV_WERROR=ON \
	  -DRKV_SANITIZE=thread -DRKV_BUILD_BENCH=OFF -DRKV_BUILD_TOOLS=OFF \
	  -DRKV_BUILD_APP=OFF -DRKV_BUILD_CLI=OFF
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -R Concurrency

bench:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DRKV_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS) --target engine_bench rkv
	./build-bench/bench/engine_bench
	./bench/render_speed.sh build-bench/cli/rkv

# The libFuzzer harnesses of tests/fuzz, built with clang (everything instrumented, UBSan fatal).
# `make fuzz FUZZ_SECONDS=3600` runs each for an hour; new inputs gather in build-fuzz/corpus-*,
# a failing input is saved as build-fuzz/crash-HARNESS-*. `make fuzz-smoke` is CI's short run.
FUZZ_SECONDS ?= 600
FUZZERS = parse transport report synth
fuzz-build:
	CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DRKV_FUZZ=ON -DRKV_WERROR=ON -DRKV_BUILD_APP=OFF -DRKV_BUILD_BENCH=OFF -DRKV_BUILD_TOOLS=OFF
	cmake --build build-fuzz -j $(JOBS) --target $(addprefix fuzz_,$(FUZZERS))

fuzz: fuzz-build
	for f in $(FUZZERS); do mkdir -p build-fuzz/corpus-$$f && \
	  build-fuzz/tests/fuzz/fuzz_$$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=1024 \
	    -print_final_stats=1 -artifact_prefix=build-fuzz/crash-$$f- \
	    build-fuzz/corpus-$$f tests/fuzz/corpus || exit 1; done

fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=15

clean:
	rm -rf $(BUILD) build-test build-asan build-tsan build-bench build-fuzz
