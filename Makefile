# The two commands for users: `make demo` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all build test bootstrap clean demo deb

all: build

bootstrap:
	@scripts/bootstrap

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# After the Linux suite, `make test` builds the Debian package and holds it to
# lintian (scripts/deb, as `make deb`), then builds the Windows service and runs its
# tests under Wine (scripts/windows-test, as `make test-windows`); WINDOWS=0
# leaves that out.
WINDOWS ?= 1

test: bootstrap
	@$(MAKE) --no-print-directory build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300
	@JOBS=$(JOBS) scripts/deb
ifneq ($(WINDOWS),0)
	@JOBS=$(JOBS) scripts/windows-test
endif

# The server on a fresh sample office at http://127.0.0.1:8080/ until Ctrl-C.
# Only the server is built, in a tree of its own without the tests, so the
# demo needs neither the test packages nor the browser stack; without debug
# information, which nobody reads there and which costs a tenth of the build.
DEMO_BUILD ?= $(BUILD)/server-only
demo:
	@scripts/bootstrap demo
	@[ -f $(DEMO_BUILD)/CMakeCache.txt ] || \
	  cmake -S . -B $(DEMO_BUILD) -DQUOR_BUILD_TESTS=OFF -DQUOR_BUILD_BENCH=OFF \
	    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" $(CMAKE_FLAGS)
	cmake --build $(DEMO_BUILD) -j $(JOBS) --target quorwell
	@BUILD=$(BUILD) SERVER=$(DEMO_BUILD)/quorwell scripts/demo

clean:
	rm -rf $(BUILD) build-deb

# The Debian package: build-deb/quorwell_<version>_amd64.deb and its -dbgsym,
# built by dpkg-buildpackage from debian/ and checked by lintian.
deb: bootstrap
	@JOBS=$(JOBS) scripts/deb

# The browser journeys alone (they also run within `make test`).
.PHONY: e2e
e2e: bootstrap $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target quorwell
	tests/e2e/run.sh $(abspath $(BUILD))/quorwell $(abspath $(BUILD))/e2e

# libFuzzer runs of every parser, FUZZ_SECONDS each (default 60).
.PHONY: fuzz
fuzz:
	@scripts/fuzz

# The server and a commented sample quor.ini into $(PREFIX)/lib/quorwell,
# the guides into $(PREFIX)/share/doc/quorwell; DESTDIR=dir stages the tree
# under dir. Builds the server only (see docs/admin.md).
PREFIX ?= /usr/local
.PHONY: install
install: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target quorwell
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# The Windows service: build-windows/quorwell.exe, cross-built with mingw-w64
# (the cross compiler, Wine and the libraries' sources are fetched when
# missing; see docs/windows.md).
.PHONY: windows test-windows
windows:
	@JOBS=$(JOBS) scripts/windows

# Its unit tests and the service test, under Wine (also part of `make test`).
test-windows:
	@JOBS=$(JOBS) scripts/windows-test

# Whole-server benchmark against Debian's nginx, tuned and stock, and a bare floor;
# then 2,000 event feeds (bench/server_vs_nginx.sh: about fifteen minutes; installs
# wrk and nginx when missing; results in the tables it prints).
.PHONY: bench
bench: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target quorwell bare_server feed_watchers
	BUILD=$(abspath $(BUILD)) bench/server_vs_nginx.sh

# The soak test, SOAK_SECONDS long (default 60; `make test` runs it for 10).
SOAK_SECONDS ?= 60
.PHONY: soak
soak: bootstrap $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target quorwell soak_test
	SOAK_SECONDS=$(SOAK_SECONDS) $(BUILD)/tests/soak_test
