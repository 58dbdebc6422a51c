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
