# The two everyday commands: `make run` and `make test` (on a machine without
# make, ./run and ./test at the root install it and then call these).
# The toolkit: Qt 5, or Qt 6 with QT_MAJOR=6, each built in folders of its
# own (build/ and build-qt6/).
QT_MAJOR ?= 5
export QT_MAJOR
QT_SUFFIX := $(if $(filter 5,$(QT_MAJOR)),,-qt$(QT_MAJOR))
BUILD_DIR ?= build$(QT_SUFFIX)
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# CI treats warnings as errors.
ifneq ($(CI),)
CMAKE_FLAGS += -DTAVIX_WERROR=ON
endif
# Last: once overridden, the variable takes no plain assignment any more.
override CMAKE_FLAGS += -DQT_MAJOR=$(QT_MAJOR)

.PHONY: all deps deps-test deps-package build run test clean deps-fuzz fuzz test-asan

all: build

# What building and running need; the tests and the package need a few
# checkers more, which `make run` does not install.
deps:
	@scripts/install-deps.sh

deps-test:
	@scripts/install-deps.sh test

deps-package:
	@scripts/install-deps.sh package

build: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Only the tool itself: a first run need not wait for the tests and the
# benchmarks to build.
run: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target tavix-gateway-tool
	$(BUILD_DIR)/tavix-gateway-tool

test: deps-test build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The Debian package, written into the build folder as
# tavix-gateway-tool_<version>-<release>_<arch>.deb.
.PHONY: package
package: deps-package build
	cmake --build $(BUILD_DIR) --target package

# The performance figures of the tool on this machine, as one table with the
# goal and the command behind each figure; about a quarter of an hour, ten
# minutes of it the soak (SOAK_SECONDS=<s> sets its length). BENCH=<names>
# measures only those (the names are in the table's commands).
.PHONY: bench
bench: deps
	cmake -S . -B $(BUILD_DIR) -DTAVIX_BUILD_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target tavix-bench
	$(BUILD_DIR)/bench/tavix-bench $(BENCH)

clean:
	rm -rf $(BUILD_DIR)

# The test suite again, built with AddressSanitizer and UBSan (the bench
# left out); any report fails the run. Leaks inside the toolkit's own
# libraries are suppressed by tests/lsan.supp, never ours.
ASAN_BUILD_DIR ?= build-asan$(QT_SUFFIX)
SANITIZER_ENV = ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0

test-asan: deps-test
	cmake -S . -B $(ASAN_BUILD_DIR) -DTAVIX_SANITIZE=ON -DTAVIX_BUILD_TESTS=ON -DTAVIX_BUILD_BENCH=OFF \
		$(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD_DIR) -j $(JOBS)
	cd $(ASAN_BUILD_DIR) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)

# libFuzzer targets, each run for FUZZ_SECONDS on a copy of its seed corpus
# in the build folder, so that the committed seeds never grow.
FUZZ_BUILD_DIR ?= build-fuzz$(QT_SUFFIX)
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = fuzz_sentences fuzz_lineframer fuzz_process_line
FUZZ_FLAGS ?=
# The window's toolkit keeps caches that make libFuzzer's leak check after
# each input rescan the whole heap, at a quarter of the speed; leaks are
# still found by the check at exit.
FUZZ_FLAGS_fuzz_process_line = -detect_leaks=0

deps-fuzz:
	@scripts/install-deps.sh fuzz

# One target's run: a fresh copy of its seeds joins what earlier runs found.
define run_fuzzer
	mkdir -p $(FUZZ_BUILD_DIR)/corpus/$(1) $(FUZZ_BUILD_DIR)/artifacts
	cp tests/fuzz/corpus/$(1)/* $(FUZZ_BUILD_DIR)/corpus/$(1)/
	@echo "== $(1): $(FUZZ_SECONDS) s"
	QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 QT_LOGGING_RULES='qt.qpa.*=false' $(SANITIZER_ENV) \
		$(FUZZ_BUILD_DIR)/tests/fuzz/$(1) -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
		-artifact_prefix=$(FUZZ_BUILD_DIR)/artifacts/$(1)- $(FUZZ_FLAGS_$(1)) $(FUZZ_FLAGS) \
		$(FUZZ_BUILD_DIR)/corpus/$(1)

endef

fuzz: deps-fuzz
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD_DIR) -DTAVIX_FUZZ=ON \
		-DTAVIX_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS) --target $(FUZZ_TARGETS)
	$(foreach t,$(FUZZ_TARGETS),$(call run_fuzzer,$(t)))

# Plants each fault of tools/mutants/faults.txt, one at a time, in a scratch
# copy of the tree and runs the suite against it; one line per fault, then
# "caught K of N". Tens of minutes. MUTANTS=id,id,... plants only those;
# KEEP=1 keeps the scratch folder with its logs.
.PHONY: mutants
mutants: deps
	MUTANTS="$(MUTANTS)" KEEP="$(KEEP)" JOBS="$(JOBS)" tools/mutants/run.sh

# The Windows build, cross-compiled here with MinGW-w64 against Qt 5 whatever
# QT_MAJOR says: the tool, the zip
# build-windows/tavix-gateway-tool-<version>-win64.zip and the installer
# build-windows/tavix-gateway-tool-<version>-setup.exe. The first run builds
# Qt for Windows into a cache outside the tree (about half an hour on two
# cores; packaging/windows/build-qt.sh says where its sources come from and
# which variables name others); later runs reuse it.
WINDOWS_BUILD_DIR ?= build-windows
.PHONY: deps-windows windows windows-test
deps-windows:
	@scripts/install-deps.sh windows

windows: deps-windows
	qt=$$(JOBS=$(JOBS) packaging/windows/build-qt.sh) && \
	cmake -S . -B $(WINDOWS_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release \
		-DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/packaging/windows/toolchain-mingw64.cmake \
		-DTAVIX_QT_PREFIX="$$qt" $(CMAKE_FLAGS) -DQT_MAJOR=5
	cmake --build $(WINDOWS_BUILD_DIR) -j $(JOBS)
	cmake --build $(WINDOWS_BUILD_DIR) --target windows-dist

# Under Wine and Xvfb: the test programs that need no pseudo-terminal, the
# installer, the installed tool's selection page, and (as root, in a network
# namespace of its own) the tool connected to the simulated Torvel.
# Screenshots land in build-windows/screenshots/.
windows-test: windows build
	packaging/windows/windows-test.sh $(WINDOWS_BUILD_DIR) $(BUILD_DIR)
