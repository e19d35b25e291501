# The two commands of the quick start:
#   make run    installs what the player needs, builds only the player, and opens it on the demo
#               songs
#   make test   installs what is missing, builds, and runs every test (normal, ASan+UBSan, TSan)
JOBS ?= $(shell nproc)
BUILD ?= build

.PHONY: run test deps deps-player build build-player test-normal test-pipewire test-asan test-tsan bench clean windows windows-full test-windows fuzz-build fuzz fuzz-smoke mutants mutants-sample

# Without a display the player cannot open its window: say so before installing or building.
ifneq ($(filter run,$(MAKECMDGOALS)),)
ifeq ($(DISPLAY)$(WAYLAND_DISPLAY),)
$(error make run needs a display to open the player on: DISPLAY and WAYLAND_DISPLAY are unset)
endif
endif

run: deps-player build-player
	cd demo && ../$(BUILD)/app/tuvimoplayer2

deps:
	./scripts/install-deps.sh

deps-player:
	./scripts/install-deps.sh player

# The player alone: no rkv, tests, benchmarks or generators.
build-player:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DRKV_BUILD_CLI=OFF -DRKV_BUILD_TESTS=OFF \
	  -DRKV_BUILD_BENCH=OFF -DRKV_BUILD_TOOLS=OFF -DRKV_BUILD_LIBRKV=OFF
	cmake --build $(BUILD) -j $(JOBS) --target tuvimoplayer2

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DRKV_BUILD_CLI=ON -DRKV_BUILD_TESTS=ON \
	  -DRKV_BUILD_BENCH=ON -DRKV_BUILD_TOOLS=ON
	cmake --build $(BUILD) -j $(JOBS)

test: deps test-normal mutants-sample test-asan test-tsan test-windows

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

# `rkv play` through PipeWire's PulseAudio layer, sample for sample under load; not part of `make
# test`, as PipeWire's own side lost or shifted sound now and then (README, Live sound).
test-pipewire:
	cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRKV_WERROR=ON
	cmake --build build-test -j $(JOBS) --target tuvimoplayer2 rkv rkv_e2e_tool rkv_x11_close
	bash tests/live/live_sound.sh pipewire build-test/app/tuvimoplayer2 \
	  build-test/tests/app/rkv_e2e_tool build-test/tests/app/rkv_x11_close build-test/cli/rkv

# The concurrency tests under ThreadSanitizer.
test-tsan:
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRKV_WERROR=ON \
	  -DRKV_SANITIZE=thread -DRKV_BUILD_BENCH=OFF -DRKV_BUILD_TOOLS=OFF \
	  -DRKV_BUILD_APP=OFF -DRKV_BUILD_CLI=OFF
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -R Concurrency

# The Windows programs, cross-built with MinGW-w64; their tests run under Wine.
windows:
	cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DRKV_WERROR=ON -DRKV_BUILD_BENCH=OFF
	cmake --build build-win -j $(JOBS)

test-windows: windows
	./tests/windows/wine-env.sh build-win ctest --test-dir build-win --output-on-failure

# Faults planted in the product code, each of which a test must catch (tests/mutants/README.md).
# The sample mutates this tree in place and rebuilds build-test; the full run uses a scratch copy.
mutants-sample:
	python3 tests/mutants/mutate.py --ci --in-place --build build-test --jobs $(JOBS)

mutants:
	nice -n 10 python3 tests/mutants/mutate.py --jobs $(JOBS) $(MUTANTS_ARGS)

bench:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DRKV_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS) --target engine_bench rkv librkv_speed
	./build-bench/bench/engine_bench
	./bench/render_speed.sh build-bench/cli/rkv
	./bench/busy_song.py build-bench/busy.rkv && ./build-bench/bench/librkv_speed build-bench/busy.rkv
	./bench/big_songs.py load build-bench/big.rkv && ./build-bench/bench/librkv_speed build-bench/big.rkv 0
	./bench/compare_players.py build-bench/cli/rkv
	./bench/compare_players.py build-bench/cli/rkv --rate 48000

# The libFuzzer harnesses of tests/fuzz, built with clang (everything instrumented, UBSan fatal).
# `make fuzz FUZZ_SECONDS=3600` runs each for an hour; new inputs gather in build-fuzz/corpus-*,
# a failing input is saved as build-fuzz/crash-HARNESS-*. `make fuzz-smoke` is CI's short run.
FUZZ_SECONDS ?= 600
FUZZERS = parse transport report synth api
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
	rm -rf $(BUILD) build-test build-asan build-tsan build-bench build-win build-fuzz build-mutants

# The Windows zip with an rkv.exe that has the same writer as on Linux (every format and rate),
# over libraries cross-built from Debian's source packages into build-win-full/deps once; its
# tests compare it with the Linux rkv of build-test. Not part of `make test`.
windows-full:
	JOBS=$(JOBS) ./scripts/build-win-deps.sh build-win-full/deps
	cmake -S . -B build-win-full -DCMAKE_TOOLCHAIN_FILE=build-win-full/deps/toolchain.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DRKV_WERROR=ON -DRKV_BUILD_BENCH=OFF -DRKV_WIN_FULL_WRITER=ON
	nice cmake --build build-win-full -j $(JOBS) --target windows-zip
	./tests/windows/wine-env.sh build-win-full ctest --test-dir build-win-full --output-on-failure \
	  -R 'windows[.]rkv_'
