# Front door: `make demo` and `make test` do everything, from missing packages to results.
JOBS ?= 2

.PHONY: all deps configure build demo demo-opc demo-ua test test-asan test-tsan test-clang-asan bench dist package fuzz soak bench-peers clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@test -f build/build.ninja || cmake --preset default

build: configure
	cmake --build --preset default -j $(JOBS)

demo: build
	@scripts/demo.sh

# The demo plant through the OPC server: hbtopc browses, reads and subscribes.
demo-opc: build
	@scripts/demo-opc.sh

# The demo plant through the OPC UA server hbtua: hbtua-client browses, reads, writes and
# subscribes. Builds only what it runs.
demo-ua: configure
	cmake --build --preset default -j $(JOBS) --target hbtua hbtpoints HBTSPOLL HBTSTSR mcsim hbtio hbtcfg hbtreg
	@scripts/demo-ua.sh

# The configuration editor HBTDIDW on the demo plant (needs a display).
editor: build
	@scripts/editor.sh

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

# Installation media in build/dist; a Debian package in build/package.
dist: build
	cmake --build --preset default --target dist

package: build
	cmake --build --preset default --target package

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
