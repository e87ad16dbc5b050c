# make run   - install what is missing, build, start Zumble1
# make test  - install what is missing, build twice (plain and ASan+UBSan), run every test
# make bench - benchmarks (not part of make test)
# make fuzz  - libFuzzer targets, seeded from the shared corpus when it is there
JOBS ?= 2
BUILD ?= build
ASAN ?= build-asan
FUZZ ?= build-fuzz

.PHONY: deps build build-asan run test bench fuzz clean

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DZUMBLE_SANITIZE=ON
	cmake --build $(ASAN) -j$(JOBS)

run: build
	$(BUILD)/Zumble1

test: build build-asan
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)
	cd $(ASAN) && ctest --output-on-failure -j$(JOBS) -LE no-asan

bench: build
	cmake --build $(BUILD) -j$(JOBS) --target benchmarks
	cd $(BUILD) && ctest -C bench -L bench --output-on-failure -V

fuzz: deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZUMBLE_FUZZ=ON
	cmake --build $(FUZZ) -j$(JOBS) --target fuzzers
	scripts/run-fuzzers $(FUZZ)

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZ)
