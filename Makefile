# The README's commands: `make demo` runs the demo on its embedded store, `make test` builds and
# runs every test in the dev and asan builds, the threaded ones under ThreadSanitizer too, and
# lints the tree; `make package` makes the Debian package. Each first installs the Debian
# packages it needs (scripts/install-deps.sh).
.PHONY: demo test package bench fuzz format lint clean scalar cross windows-check libcxx posix

JOBS ?= $(shell nproc)
ARGS ?=
TIDY = run-clang-tidy-14 -p build/dev -j $(JOBS) -quiet -extra-arg=-Wno-unknown-warning-option \
    '$(CURDIR)/(brenvo|tools|tests|fuzz)/'

demo:
	@./scripts/install-deps.sh --demo
	cmake --preset demo >/dev/null
	cmake --build --preset demo --target brenvo -j $(JOBS)
	./build/demo/bin/brenvo demo $(ARGS)

test:
	@./scripts/install-deps.sh --test --lint
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)
	ctest --preset dev
	$(TIDY)
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan
	$(MAKE) --no-print-directory posix libcxx scalar cross windows-check

package:
	@./scripts/install-deps.sh --package
	cmake --preset package
	cmake --build --preset package -j $(JOBS)
	cd build/package && cpack
	@ls build/package/*.deb

bench:
	@./scripts/install-deps.sh --bench
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)
	./build/bench/bin/json_bench $(ARGS)
	./build/bench/bin/agent_bench

fuzz:
	@./scripts/install-deps.sh --test
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

# clang-tidy with the checks of .clang-tidy over every source file of the library, the tools,
# the tests and the fuzz targets, on the dev build's compile commands; fails on any finding.
lint:
	@./scripts/install-deps.sh --lint
	cmake --preset dev >/dev/null
	cmake --build --preset dev -j $(JOBS)
	$(TIDY)

clean:
	rm -rf build

# ThreadSanitizer over the tests that use more than one thread (labels matching "threads";
# a test joins by naming a thread: "DestroyedOnOtherThreads").
.PHONY: tsan
tsan:
	@./scripts/install-deps.sh --test
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan

# Line and branch coverage of brenvo/ from the whole suite: the summary per file on the
# terminal and in build/coverage/coverage.txt, annotated sources in build/coverage/html/.
.PHONY: coverage
coverage:
	@./scripts/install-deps.sh --coverage
	cmake --preset coverage
	cmake --build --preset coverage -j $(JOBS)
	find build/coverage -name '*.gcda' -delete
	ctest --preset coverage
	mkdir -p build/coverage/html
	gcovr --root . --filter 'brenvo/' --object-directory build/coverage \
	    --exclude-directories 'build/coverage/CMakeFiles/[0-9]' \
	    --exclude-unreachable-branches --exclude-throw-branches \
	    --txt build/coverage/coverage.txt --html-details build/coverage/html/index.html \
	    --print-summary
	cat build/coverage/coverage.txt

# Beyond x86-64 Linux with GCC and libstdc++; make test runs them all.
#   posix          the run loop's portable POSIX wait (poll, a self-pipe) instead of Linux's:
#                  the platform, HTTP and agent tests
#   libcxx         clang++-14 with libc++: the library, the tools and their tests, without GTK
#                  and Qt
#   scalar         the portable form of every SIMD kernel, on this machine
#   cross          Linux on s390x (big-endian) and aarch64, under qemu-user
#   windows-check  Windows on x86-64 (MinGW-w64), under wine64 with a prefix in build/mingw/
# The last three build the UTF and JSON layers, compareVersions, xkjson and their tests, run the
# tests, then xkjson over every JSON input of the tree in every mode, which must give the bytes
# and exit status of the dev build's xkjson (scripts/compare-xkjson.sh).

# Configures and builds the preset $(1), then runs its tests (with $(2) before ctest).
test-preset = cmake --preset $(1) && cmake --build --preset $(1) -j $(JOBS) && $(2) ctest --preset $(1)

libcxx:
	@./scripts/install-deps.sh --test
	$(call test-preset,libcxx)

posix:
	@./scripts/install-deps.sh --test
	$(call test-preset,posix)

.PHONY: native-xkjson
native-xkjson:
	@./scripts/install-deps.sh --test
	cmake --preset dev >/dev/null
	cmake --build --preset dev --target xkjson -j $(JOBS)

scalar: native-xkjson
	$(call test-preset,scalar)

cross: native-xkjson
	$(call test-preset,s390x)
	$(call test-preset,aarch64)

windows-check: native-xkjson
	$(call test-preset,mingw,./scripts/wine.sh --prefix $(CURDIR)/build/mingw/wine --session)
