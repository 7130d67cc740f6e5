# Front door: `make demo` and `make test` do everything, from missing packages to results.
JOBS ?= 2
# Demos build only the programs they run; a new demo is a name here, a line in
# cmake/demos.cmake and its scripts/NAME.sh.
DEMOS := demo demo-opc demo-ua demo-mqtt editor

.PHONY: all deps configure build $(DEMOS) test test-asan test-tsan test-clang-asan bench dist package test-package fuzz soak bench-peers clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@test -f build/build.ninja || cmake --preset default

build: configure
	cmake --build --preset default -j $(JOBS)

# Demos build only the programs they run (the CMake target NAME-programs, cmake/demos.cmake),
# then run scripts/NAME.sh: demo is the simulated plant with a live table, demo-opc the same
# plant through the OPC server, demo-ua through the OPC UA server hbtua (hbtua-client
# browses, reads, writes and subscribes), demo-mqtt the plant published to a local Mosquitto
# by hbtmqtt, editor the configuration editor on it (needs a display).
$(DEMOS): configure
	cmake --build --preset default -j $(JOBS) --target $@-programs
	@scripts/$@.sh

test: build
	ctest --preset default

test-asan: deps
	@test -f build-asan/build.ninja || cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

test-tsan: deps
	@test -f build-tsan/build.ninja || cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan

# The address and undefined-behaviour sanitizers under clang, which binds references to
# packed fields where gcc copies them, and stops at the first finding of either.
test-clang-asan: deps
	@test -f build-clang-asan/build.ninja || cmake --preset clang-asan
	cmake --build --preset clang-asan -j $(JOBS)
	ctest --preset clang-asan

bench: build
	@scripts/bench.sh

# Installation media in build/dist; a Debian package in build/package (checked with lintian
# when it is installed).
dist: build
	cmake --build --preset default --target dist

package: build
	cmake --build --preset default --target package

# The Debian package built twice, checked with lintian, unpacked and run, and installed,
# upgraded, removed and purged in a scratch root (the maintainer scripts; needs root).
test-package: build
	@scripts/install-deps.sh package
	build/tests/hbt_package_test

# Coverage-guided fuzzing of every reader of outside bytes: FUZZ_SECONDS per target (30).
fuzz: deps
	@scripts/fuzz.sh

# The driver under random faults with an oracle: SOAK_SECONDS (300), SOAK_SEED.
soak: build
	@scripts/soak.sh

# The poller next to the npm MC-protocol clients, one table (PEER_SECONDS per row, default 5).
bench-peers: build
	@bench/peers/run.sh build

clean:
	rm -rf build build-asan build-tsan build-clang-asan build-fuzz
