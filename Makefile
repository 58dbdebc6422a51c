# The README's commands: `make demo` runs the demo on its embedded store, `make test` builds and
# runs every test in the dev and asan builds, `make package` makes the Debian package. Each
# first installs the Debian packages it needs (scripts/install-deps.sh).
.PHONY: demo test package bench fuzz format clean

JOBS ?= $(shell nproc)
ARGS ?=

demo:
	@./scripts/install-deps.sh --demo
	cmake --preset demo >/dev/null
	cmake --build --preset demo --target brenvo -j $(JOBS)
	./build/demo/bin/brenvo demo $(ARGS)

test:
	@./scripts/install-deps.sh --test
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)
	ctest --preset dev
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

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

clean:
	rm -rf build
