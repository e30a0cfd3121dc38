# The two commands of the README, and a few more for developers.
.PHONY: demo test deps tsan release bench fuzz clean test-arm board footprint test-kernel bench-kernel

deps:
	@bash scripts/install-deps.sh

# Every test, under AddressSanitizer and UndefinedBehaviorSanitizer.
test: deps
	bash scripts/fetch-wifi-parsers.sh
	cmake --preset dev
	cmake --build --preset dev
	ctest --preset dev

# Build, make a virtual board, and show what happens on it.
demo: deps
	bash scripts/demo.sh

# Every test under ThreadSanitizer.
tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

# Every test for 32-bit ARM, run under qemu-user on a virtual board.
test-arm: deps
	bash scripts/make-armhf-sysroot.sh
	cmake --preset armhf
	cmake --build --preset armhf
	ctest --preset armhf

# The board build: 32-bit ARM, -Os, stripped, no virtual board.
board: deps
	bash scripts/make-armhf-sysroot.sh
	cmake --preset board
	cmake --build --preset board

# The board build on Debian's own armhf kernel under qemu-system-arm: the
# real NOR flash chip, processes, uevents, interfaces and Wi-Fi.
test-kernel: board
	cmake --build --preset board --target kernel_tests
	ctest --preset kernel

# The environment save on the kernel board's NOR chip against fw_setenv.
bench-kernel: board
	cmake --build --preset board --target kernel_env_save_bench
	bash scripts/kernel-board.sh --machine nor --share build/board/tests/kernel/share \
	  -- ./kernel_env_save_bench

# Stripped sizes of the board build (which must hold no virtual board code)
# and the tool's peak memory on a virtual board.
footprint: deps
	bash scripts/footprint.sh

release: deps
	cmake --preset release
	cmake --build --preset release

bench: release
	bash scripts/bench.sh

# The libFuzzer targets (clang), FUZZ_SECONDS each.
fuzz: deps
	bash scripts/fuzz.sh

clean:
	rm -rf build out
