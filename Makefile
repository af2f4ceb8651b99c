# Kestrane Photo Viewer: the commands a developer types.
#   make run        install what is missing, build the viewer, start it
#   make install    build the viewer and install it under PREFIX (default ~/.local); DESTDIR
#                   stages the install in another root
#   make uninstall  remove what the last install put there (under the DESTDIR it had)
#   make package    build a Debian package (build/release/kestrane-viewer_*.deb)
#   make test       install what is missing, build with the sanitizers, run every test
#   make bench      install what is missing, build the release, run the benchmarks
# JOBS sets how many compilers run at once (default: one per core).

JOBS        ?= $(shell nproc)
PREFIX      ?= $(HOME)/.local
DESTDIR     ?=
TEST_DIR    ?= build/test
RELEASE_DIR ?= build/release
CMAKE_COMMON = -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++

export ASAN_OPTIONS  ?= detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS  ?= suppressions=$(CURDIR)/tools/lsan.supp:print_suppressions=0
# Every run takes the test files and the tests inside each file in a new random order, so a test
# that leans on another's leftovers fails here (the seed is printed at the top of each file's output).
export GTEST_SHUFFLE ?= 1

.PHONY: all deps run test bench build-test build-release build-viewer install uninstall package clean

all: build-release

deps:
	@bash tools/install-deps.sh

# The benchmarks are built here too (not run), so that a change of the code they drive is
# caught by the tests' build rather than at the next `make bench`.
build-test: deps
	cmake -S . -B $(TEST_DIR) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug \
	      -DCMAKE_C_FLAGS_DEBUG="-g1 -O1" -DCMAKE_CXX_FLAGS_DEBUG="-g1 -O1" \
	      -DKPV_SANITIZE=ON -DKPV_FUZZ=ON -DKPV_BUILD_TESTS=ON -DKPV_BUILD_BENCH=ON
	cmake --build $(TEST_DIR) -j $(JOBS)

test: build-test
	cd $(TEST_DIR) && xvfb-run -a -s "-screen 0 1920x1080x24" \
	    ctest --output-on-failure --no-tests=error --schedule-random -j $(JOBS)

RELEASE_CONFIG = cmake -S . -B $(RELEASE_DIR) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release \
	      -DKPV_SANITIZE=OFF -DKPV_FUZZ=OFF -DKPV_BUILD_TESTS=OFF

build-release: deps
	$(RELEASE_CONFIG) -DKPV_BUILD_BENCH=ON
	cmake --build $(RELEASE_DIR) -j $(JOBS)

# Only the viewer and what it needs (no benchmarks, no tests).
build-viewer: deps
	$(RELEASE_CONFIG)
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target kestrane-viewer

run: build-viewer
	exec $(RELEASE_DIR)/app/kestrane-viewer

install: build-viewer
	DESTDIR="$(DESTDIR)" cmake --install $(RELEASE_DIR) --prefix "$(PREFIX)"
	DESTDIR="$(DESTDIR)" cmake -DMANIFEST="$(abspath $(RELEASE_DIR))/install_manifest.txt" \
	      -DNEW_FOLDERS="$(abspath $(RELEASE_DIR))/install/new-folders.txt" \
	      -DRECORD="$(abspath $(RELEASE_DIR))/installed-files.txt" -P cmake/RecordInstall.cmake
	@echo "Installed under $(DESTDIR)$(PREFIX); start it from the menu or with $(PREFIX)/bin/kestrane-viewer"

uninstall:
	DESTDIR="$(DESTDIR)" cmake -DRECORD="$(abspath $(RELEASE_DIR))/installed-files.txt" -P cmake/Uninstall.cmake

package: build-viewer
	cd $(RELEASE_DIR) && cpack -G DEB

bench: build-release
	@bash tools/install-deps.sh tools/bench-packages.txt
	cmake --build $(RELEASE_DIR) --target run_benchmarks

clean:
	rm -rf build
