# Thin front over CMake. `make run` and `make test` are the two set-up commands.
BUILD ?= build
PKG_BUILD ?= build-pkg
JOBS ?= $(shell nproc)
# Tests at a time: most of the suite's time is spent waiting on tpcsim and the time-outs
# it drives, not on the processor, so three per core.
TEST_JOBS ?= $(shell echo $$(( $(JOBS) * 3 )))
CMAKE_FLAGS ?=
export QT_QPA_PLATFORM ?= offscreen

.PHONY: all deps configure build test test-loaded run run-lumora bench fuzz test-asan test-tsan screenshots \
	package lintian clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_WERROR=ON $(CMAKE_FLAGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(TEST_JOBS) --timeout 600

# The suite while every core, the disk and memory are kept busy beside it (stress-ng CPU,
# I/O, disk and memory workers). Not in CI: run it before handing work over.
test-loaded: build
	@scripts/install-deps --loaded
	@scripts/test-loaded $(BUILD) $(TEST_JOBS)

run: build
	@scripts/run-sim

run-lumora: build
	@scripts/run-sim --lumora

# One clang ASan+UBSan tree serves the sanitizer suite and the fuzz targets.
test-asan: deps
	@scripts/configure-asan build-asan
	cmake --build build-asan -j $(JOBS)
	cd build-asan && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --output-on-failure -LE "server|browser" -j $(TEST_JOBS) --timeout 900

test-tsan: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVT_SANITIZE=thread -DVT_WERROR=ON
	cmake --build build-tsan -j $(JOBS) --target vt_threaded_tests
	cd build-tsan && QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="halt_on_error=1 ignore_noninstrumented_modules=1 suppressions=$(CURDIR)/.ci/tsan.supp" ctest --output-on-failure -L threaded -j $(TEST_JOBS) --timeout 900

bench: deps
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVT_BUILD_BENCH=ON -DVT_WERROR=OFF
	cmake --build build-bench -j $(JOBS)
	@bench/run-all build-bench

fuzz: deps
	@fuzz/run-all

screenshots: build
	@scripts/screenshots docs/screenshots

# The Debian packages, built as a packager would and as the README's plain CMake build
# is: the default generator, Release, installed under /usr, Debian's hardening flags,
# warnings not fatal. They land in $(PKG_BUILD)/packages/.
DEB_FLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
package: deps
	cmake -S . -B $(PKG_BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
	  -DBUILD_TESTING=OFF -DVT_WERROR=OFF -DVT_UDEV_RULES_DIR=/usr/lib/udev/rules.d \
	  -DCMAKE_C_FLAGS="$$($(DEB_FLAGS) CFLAGS) $$($(DEB_FLAGS) CPPFLAGS)" \
	  -DCMAKE_CXX_FLAGS="$$($(DEB_FLAGS) CXXFLAGS) $$($(DEB_FLAGS) CPPFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$($(DEB_FLAGS) LDFLAGS)" \
	  -DCMAKE_SHARED_LINKER_FLAGS="$$($(DEB_FLAGS) LDFLAGS)"
	cmake --build $(PKG_BUILD) -j $(JOBS)
	rm -f $(PKG_BUILD)/packages/*.deb
	cd $(PKG_BUILD) && cpack -G DEB

# Errors and warnings fail; an override in packaging/debian/ says why for what is left.
lintian: package
	lintian --fail-on error,warning --display-info $(PKG_BUILD)/packages/*.deb

clean:
	rm -rf $(BUILD) $(PKG_BUILD) build-asan build-tsan build-bench
