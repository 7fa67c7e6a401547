# Front door. Every target installs what is missing first.
BUILD       ?= build
SAN_BUILD   ?= build-sanitize
JOBS        ?= $(shell nproc)
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: deps configure build test test-sanitize bench demo run clean screenshots package

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

bench: build
	@scripts/run-bench $(BUILD)

demo: build
	@scripts/demo $(BUILD)

run: demo

clean:
	rm -rf $(BUILD) $(SAN_BUILD)

screenshots: build
	@scripts/screenshots $(BUILD)

# The Debian package of the install tree, checked by lintian (which must
# report no error).
package: build
	@cd $(BUILD) && cpack -G DEB
	@lintian --fail-on error $(BUILD)/vorlent_*.deb
