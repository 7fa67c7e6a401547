# Front door. Every target installs what is missing first.
BUILD       ?= build
SAN_BUILD   ?= build-sanitize
JOBS        ?= $(shell nproc)
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
FUZZ_BUILD  ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: deps configure build test test-sanitize bench demo run clean screenshots package fuzz \
        windows test-windows screenshots-windows

# The Windows build (mingw-w64, run under wine for its tests). Its Qt,
# QCustomPlot and GoogleTest come from Debian's sources, built once into
# ${XDG_CACHE_HOME:-~/.cache}/vorlent by scripts/build-windows-deps.
WIN_BUILD   ?= build-windows
WIN_DEPS     = $(shell scripts/build-windows-deps --print)
WIN_QT_READY = $(shell test -f "$$(scripts/build-windows-deps --print | cut -d';' -f1)/.complete" && echo ON || echo OFF)
WIN_CONFIGURE = VORLENT_WINDOWS_DEPS="$(WIN_DEPS)" cmake -S . -B $(WIN_BUILD) $(CMAKE_FLAGS) \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVORLENT_BENCH=OFF >/dev/null

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The core tests once more under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	@cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORLENT_SANITIZE=ON \
	    -DVORLENT_GUI=OFF -DVORLENT_BENCH=OFF >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)
	@cd $(SAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L core

# Every parser under libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer,
# FUZZ_SECONDS each; needs clang, which only this target installs.
fuzz:
	@scripts/install-deps fuzz
	@cmake -S tests/fuzz -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@tests/fuzz/run $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: build
	@scripts/run-bench $(BUILD)

demo: build
	@scripts/demo $(BUILD)

run: demo

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(WIN_BUILD)
	rm -rf $(FUZZ_BUILD)

screenshots: build
	@scripts/screenshots $(BUILD)

# The Debian package of the install tree, checked by lintian (which must
# report no error).
package: build
	@cd $(BUILD) && cpack -G DEB
	@lintian --fail-on error $(BUILD)/vorlent_*.deb

# vorlent.exe and vorlent-cli.exe, the ZIP and the installer. The first run
# builds the Windows Qt (see scripts/build-windows-deps for how long).
windows:
	@scripts/install-deps windows
	@scripts/build-windows-deps
	@$(WIN_CONFIGURE) -DVORLENT_GUI=ON
	@cmake --build $(WIN_BUILD) -j $(JOBS)
	@cmake --build $(WIN_BUILD) --target windows_package
	@ls -l $(WIN_BUILD)/vorlent-*-win64.zip $(WIN_BUILD)/vorlent-*-setup.exe

# The core tests and the CLI checks under wine in a private prefix; they
# need no Qt. The window's check runs once the Windows Qt is built.
test-windows: deps
	@scripts/install-deps windows
	@scripts/build-windows-deps gtest
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target vorlent-cli vorlent-unitsim
	@$(WIN_CONFIGURE) -DVORLENT_GUI=$(WIN_QT_READY)
	@cmake --build $(WIN_BUILD) -j $(JOBS) --target vorlent-cli test_core_windows
	@tests/windows/run-wine-tests $(WIN_BUILD) $(BUILD)
	@if [ "$(WIN_QT_READY)" = ON ]; then $(MAKE) --no-print-directory screenshots-windows; \
	 else echo "test-windows: the window's check waits for the Windows Qt (scripts/build-windows-deps)"; fi

# The window under wine on Xvfb: the interface dialog with the mapped COM
# port, then the received unit, saved as $(WIN_BUILD)/screenshots/*.png.
screenshots-windows:
	@scripts/install-deps windows
	@scripts/build-windows-deps
	@$(WIN_CONFIGURE) -DVORLENT_GUI=ON
	@cmake --build $(WIN_BUILD) -j $(JOBS) --target vorlent vorlent-cli
	@cmake --build $(BUILD) -j $(JOBS) --target vorlent-unitsim
	@tests/windows/window-screenshots $(WIN_BUILD) $(BUILD)
