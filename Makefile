# The two commands of the README, and a few more for developers.
.PHONY: demo test deps tsan release bench fuzz clean

deps:
	@bash scripts/install-deps.sh

# Every test, under AddressSanitizer and UndefinedBehaviorSanitizer.
test: deps
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
