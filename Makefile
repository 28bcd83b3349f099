# make        build the host and the Windows configuration
# make test   install what is missing, build, run every host and Windows test
# make demo   install what is missing, build, run the installer under Wine on loopback
# make bench  benchmarks (not part of make test)
BUILD ?= build
JOBS ?= 2
# Loopback settings of the development build; a release build passes its own.
SETTINGS ?= -DZETORA_CONFIG_HOST=127.0.0.1 -DZETORA_CONFIG_PORT=18080 \
            -DZETORA_STAT_HOST=127.0.0.1 -DZETORA_STAT_PORT=18081
HOST_DIR := $(BUILD)/host
WIN_DIR := $(BUILD)/win32
TSAN_DIR := $(BUILD)/tsan
# The Windows-free core under ThreadSanitizer (a host build of its own).
TSAN_TESTS := net_concurrency_test net_core_test net_task_test
export WINEPREFIX := $(abspath $(BUILD))/wineprefix

.PHONY: all setup configure build test test-host test-win32 test-tsan demo bench clean

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

configure: setup $(HOST_DIR)/CMakeCache.txt $(WIN_DIR)/CMakeCache.txt

build: configure
	cmake --build $(HOST_DIR) -j$(JOBS)
	cmake --build $(WIN_DIR) -j$(JOBS)

test-host: build
	cd $(HOST_DIR) && ctest -j$(JOBS) --output-on-failure

test-win32: build
	bash cmake/wine-session.sh ctest --test-dir $(WIN_DIR) -j$(JOBS) --output-on-failure

test-tsan: setup $(TSAN_DIR)/CMakeCache.txt
	cmake --build $(TSAN_DIR) -j$(JOBS) --target $(TSAN_TESTS)
	cd $(TSAN_DIR) && ctest --output-on-failure -R '^($(subst $(eval) ,|,$(TSAN_TESTS)))$$'

test: test-host test-win32 test-tsan

demo: build
	bash cmake/wine-session.sh bash tools/demo.sh $(WIN_DIR)

bench: build
	bash cmake/wine-session.sh bash tools/bench.sh $(BUILD)

clean:
	rm -rf $(BUILD)
