# The two commands of the README: `make demo` runs the demo on its embedded store,
# `make test` builds and runs every test in the dev and asan builds.
.PHONY: demo test deps bench fuzz format clean

JOBS ?= $(shell nproc)
ARGS ?=

demo: deps
	cmake --preset dev >/dev/null
	cmake --build --preset dev --target brenvo -j $(JOBS)
	./build/dev/bin/brenvo demo $(ARGS)

test: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)
	ctest --preset dev
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

deps:
	@./scripts/install-deps.sh

bench:
	@./scripts/install-deps.sh --bench
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	./build/release/bin/json_bench $(ARGS)
	./build/release/bin/agent_bench

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf build

# ThreadSanitizer over the tests that use more than one thread (labels matching "threads";
# a test joins by naming a thread: "DestroyedOnOtherThreads").
.PHONY: tsan
tsan: deps
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
	    --exclude-directories build/coverage/CMakeFiles \
	    --exclude-unreachable-branches --exclude-throw-branches \
	    --txt build/coverage/coverage.txt --html-details build/coverage/html/index.html \
	    --print-summary
	cat build/coverage/coverage.txt
