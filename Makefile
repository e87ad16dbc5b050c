# make run     - install what is missing to build and run, build, start Zumble1 with the sample kit
# make test    - install what is missing (test tools too), build twice (plain and
#                ASan+UBSan), run every test
# make bench   - benchmarks (not part of make test)
# make fuzz    - libFuzzer targets, seeded from the shared corpus when it is there
# make package - the Debian package build/zumble_<version>_amd64.deb, checked by lintian
# make coverage - build with gcov counters, run every test, print line and branch coverage of src/
JOBS ?= 2
BUILD ?= build
ASAN ?= build-asan
FUZZ ?= build-fuzz
COV ?= build-cov

# Line tables only: backtraces and sanitizer reports keep their files and
# lines, and compiling takes about a quarter less time than with full debug
# information (most of what `make test` spends is compiling two builds).
DEBUG_INFO ?= -g1

.PHONY: deps deps-test deps-dev build build-asan run test bench fuzz package coverage clean

deps:
	scripts/install-deps

deps-test:
	scripts/install-deps --test

deps-dev:
	scripts/install-deps --dev

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 $(DEBUG_INFO) -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 $(DEBUG_INFO) -DNDEBUG"
	cmake --build $(BUILD) -j$(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DZUMBLE_SANITIZE=ON \
	  "-DCMAKE_CXX_FLAGS_DEBUG=$(DEBUG_INFO)" "-DCMAKE_C_FLAGS_DEBUG=$(DEBUG_INFO)"
	cmake --build $(ASAN) -j$(JOBS)

run: build
	$(BUILD)/Zumble1 $(BUILD)/samples/sample.zm1

test: deps-test build build-asan
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)
	cd $(ASAN) && ctest --output-on-failure -j$(JOBS) -LE no-asan

bench: deps-dev build
	cmake --build $(BUILD) -j$(JOBS) --target benchmarks
	cd $(BUILD) && ctest -C bench -L bench --output-on-failure -V

fuzz: deps-dev
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZUMBLE_FUZZ=ON
	cmake --build $(FUZZ) -j$(JOBS) --target fuzzers
	scripts/run-fuzzers $(FUZZ)

package: deps-test build
	cd $(BUILD) && cpack -G DEB
	lintian --fail-on error $(BUILD)/zumble_*_amd64.deb

# Unoptimised so that lines and branches map to the source one to one; the
# counters of an earlier run are removed first so that the figures are this
# run's alone. Branches the compiler adds for exceptions are left out: they
# would count every call that might throw. The summary is printed even when a
# test fails; the target fails all the same. The metafile corpus is left out:
# unoptimised, it outruns its time limit (and the players' own tests cover them).
coverage: deps-dev
	cmake -S . -B $(COV) -DCMAKE_BUILD_TYPE=Debug \
	  "-DCMAKE_CXX_FLAGS_DEBUG=-O0 --coverage" "-DCMAKE_C_FLAGS_DEBUG=-O0 --coverage" \
	  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage
	cmake --build $(COV) -j$(JOBS)
	find $(COV) -name '*.gcda' -delete
	status=0; (cd $(COV) && ctest --output-on-failure -j$(JOBS) -E platform_test_metafile_corpus) || status=$$?; \
	gcovr --root . --filter 'src/' --filter 'kovhpurl/' --exclude-throw-branches \
	  --object-directory $(COV) --print-summary --txt $(COV)/coverage.txt $(COV) && exit $$status

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZ) $(COV)
