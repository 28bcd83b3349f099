# make        build the host and the Windows configuration
# make test   install what is missing, build, run every host and Windows test
# make demo   install what is missing, build, run the installer under Wine on loopback
# make bench  benchmarks (not part of make test)
# make release  the operator's release build (see the README's release section)
# make bench-stats  the statistics service's ingest and page benchmark
BUILD ?= build
JOBS ?= 2
# Loopback settings of the development build; a release build passes its own.
SETTINGS ?= -DZETORA_CONFIG_HOST=127.0.0.1 -DZETORA_CONFIG_PORT=18080 \
            -DZETORA_STAT_HOST=127.0.0.1 -DZETORA_STAT_PORT=18081 -DZETORA_TEST_SEAMS=ON
HOST_DIR := $(BUILD)/host
WIN_DIR := $(BUILD)/win32
TSAN_DIR := $(BUILD)/tsan
# The release build with example settings, which the tests check and measure.
RELEASE_CHECK_DIR := $(BUILD)/release-check
# The Windows-free core under ThreadSanitizer (a host build of its own).
TSAN_TESTS := net_concurrency_test net_core_test net_task_test sys_identity_test
# The Windows tests and the demo run the build whose programs this machine's
# Wine can run: the 32-bit product build, or, on a kernel without 32-bit
# support, the same sources built for 64-bit Windows.
export ZETORA_WIN_ARCH := $(shell bash cmake/wine-arch.sh)
RUN_DIR := $(BUILD)/$(ZETORA_WIN_ARCH)
export WINEPREFIX := $(abspath $(BUILD))/wineprefix-$(ZETORA_WIN_ARCH)

.PHONY: all setup configure build test test-host test-win32 test-tsan demo bench bench-stats clean \
        release release-check

all: build

setup:
	@bash cmake/setup.sh

$(HOST_DIR)/CMakeCache.txt:
	cmake -S . -B $(HOST_DIR) -DCMAKE_BUILD_TYPE=Debug $(SETTINGS)

$(WIN_DIR)/CMakeCache.txt:
	cmake -S . -B $(WIN_DIR) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake \
	      -DCMAKE_BUILD_TYPE=Release $(SETTINGS)

$(TSAN_DIR)/CMakeCache.txt:
	cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DZETORA_TSAN=ON $(SETTINGS)

$(BUILD)/win64/CMakeCache.txt:
	cmake -S . -B $(BUILD)/win64 -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-x86_64.cmake \
	      -DCMAKE_BUILD_TYPE=Release $(SETTINGS)

configure: setup $(HOST_DIR)/CMakeCache.txt $(RUN_DIR)/CMakeCache.txt

# The 32-bit product is the release check's build; the development build of
# it is built only where the Windows tests run it (a machine whose Wine runs
# 32-bit programs).
build: configure release-check
	cmake --build $(HOST_DIR) -j$(JOBS)
	cmake --build $(RUN_DIR) -j$(JOBS)

release-check: setup
	JOBS=$(JOBS) bash tools/release_check.sh $(RELEASE_CHECK_DIR)

# make release CONFIG_HOST=... STAT_HOST=... WEBSITE_HOST=... CONFIG_KEY=...
#              SIGNER_NAME=... [CHANNEL="a b"] [SIGN_PFX=f.p12 SIGN_PASSWORD=...]
# or make release RELEASE_CONFIG=release.conf (the same names, one per line).
# Variables given to make reach the script through its environment.
release: setup
	JOBS=$(JOBS) bash tools/release.sh

test-host: build
	cd $(HOST_DIR) && ctest -j$(JOBS) --output-on-failure

test-win32: build
	@echo "Windows tests: $(ZETORA_WIN_ARCH) build under Wine"
	bash cmake/wine-session.sh ctest --test-dir $(RUN_DIR) -j$(JOBS) --output-on-failure

test-tsan: setup $(TSAN_DIR)/CMakeCache.txt
	cmake --build $(TSAN_DIR) -j$(JOBS) --target $(TSAN_TESTS)
	cd $(TSAN_DIR) && ctest --output-on-failure -R '^($(subst $(eval) ,|,$(TSAN_TESTS)))$$'

test: test-host test-win32 test-tsan

demo: build
	bash cmake/wine-session.sh bash tools/demo.sh $(RUN_DIR)

bench: build
	bash cmake/wine-session.sh bash tools/bench.sh $(BUILD)

# The statistics service's benchmark, on a release build without sanitizers.
STATS_BENCH_DIR := $(BUILD)/bench-stats
bench-stats: setup
	cmake -S . -B $(STATS_BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DZETORA_SANITIZERS=OFF $(SETTINGS) >/dev/null
	cmake --build $(STATS_BENCH_DIR) -j$(JOBS) --target zetora-stats zstats_loadgen
	bash service/bench/bench-stats.sh $(STATS_BENCH_DIR)

clean:
	rm -rf $(BUILD)
