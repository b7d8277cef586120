# make        builds everything into build/bin/
# make test   builds and runs every test (native, and Windows ones under Wine:
#             the x64 build everywhere, the PE32 build where the host runs it)
# make demo   the main job: builds and runs the launcher under Wine
# make bench  measures the performance goals, writes docs/performance.md
# make fuzz   runs the fuzzers for longer (FUZZ_SECONDS each, 600 by default)
# make reliability  each outcome 100 times in a row, writes docs/reliability.md
# Each installs what is missing first (scripts/install-deps).

BUILD   := build
CROSS   := $(BUILD)/cross
CROSS64 := $(BUILD)/cross64
NATIVE  := $(BUILD)/native
JOBS    ?= $(shell nproc)
CMAKE_FLAGS := -G Ninja -DCMAKE_BUILD_TYPE=Release

.PHONY: all deps configure test check-format check-reproducible demo bench fuzz reliability format clean

all: deps
	cmake -S . -B $(NATIVE) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(NATIVE) -j $(JOBS)
	cmake -S . -B $(CROSS) $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	cmake --build $(CROSS) -j $(JOBS)
	cmake -S . -B $(CROSS64) $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
	    -DTIRN_BIN_DIR=$(CURDIR)/$(BUILD)/bin/x64 >/dev/null
	cmake --build $(CROSS64) -j $(JOBS)

deps:
	@scripts/install-deps

# Besides the tests: the code is formatted, it builds without a warning
# (-Werror), and two clean builds of each launcher are byte-identical. The
# Windows suite runs on the x64 build everywhere, and on the PE32 build where
# the host runs 32-bit programs (TIRN_X64_ONLY=1 skips it anyway); a skipped
# suite says so. scripts/run-tests runs the parts side by side.
test: check-format all
	@JOBS=$(JOBS) scripts/run-tests

check-format: deps
	@clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h') && echo "check-format: clean"

check-reproducible: deps
	scripts/check-reproducible

# Stops both Wine servers and displays after a run that may have used either.
STOP_WINES := TIRN_WINE_ARCH=win32 scripts/wine-stop; TIRN_WINE_ARCH=win64 scripts/wine-stop

# Both run the PE32 launcher where the host runs 32-bit programs, the x64 one
# elsewhere (or with TIRN_X64_ONLY=1).
demo: all
	@status=0; scripts/demo || status=$$?; $(STOP_WINES); exit $$status

bench: all
	@scripts/install-deps bench
	@status=0; python3 bench/run.py || status=$$?; $(STOP_WINES); exit $$status

fuzz: all
	tests/fuzz/run-fuzzers.sh $${FUZZ_SECONDS:-600} build/bin/TirnHomeISSetup.exe

reliability: all
	@status=0; set -- $$(scripts/windows-arch); export TIRN_WINE_ARCH=$$1; \
	cross=$(CROSS); [ $$1 = win64 ] && cross=$(CROSS64); \
	(cd $$cross && ctest -R make_e2e_setups >/dev/null) && \
	python3 tests/reliability/repeat-outcomes.py $${RUNS:-100} || status=$$?; scripts/wine-stop; exit $$status

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
