# The README's commands: `make demo` runs the demo on its embedded store, `make test` builds and
# runs every test in the dev and asan builds, the threaded ones under ThreadSanitizer too, and
# lints the tree; `make package` makes the Debian package. Each first installs the Debian
# packages it needs (scripts/install-deps.sh).
.PHONY: demo test package bench fuzz format lint clean

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
