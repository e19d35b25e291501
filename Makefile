# The two commands of the quick start:
#   make run    installs what is missing, builds, and opens the player on the demo songs
#   make test   installs what is missing, builds, and runs every test (normal, ASan+UBSan, TSan)
JOBS ?= $(shell nproc)
BUILD ?= build

.PHONY: run test deps build test-normal test-asan test-tsan bench clean mutants mutants-sample

run: deps build
	cd demo && ../$(BUILD)/app/tuvimoplayer2

deps:
	./scripts/install-deps.sh

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

test: deps test-normal mutants-sample test-asan test-tsan

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

# Faults planted in the product code, each of which a test must catch (tests/mutants/README.md).
# The sample mutates this tree in place and rebuilds build-test; the full run uses a scratch copy.
mutants-sample:
	python3 tests/mutants/mutate.py --ci --in-place --build build-test --jobs $(JOBS)

mutants:
	nice -n 10 python3 tests/mutants/mutate.py --jobs $(JOBS) $(MUTANTS_ARGS)

bench:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DRKV_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS) --target engine_bench rkv
	./build-bench/bench/engine_bench
	./bench/render_speed.sh build-bench/cli/rkv

clean:
	rm -rf $(BUILD) build-test build-asan build-tsan build-bench build-mutants
