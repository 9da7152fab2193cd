# Gleanery: the two everyday commands are `make demo` and `make test`.
.PHONY: all deps build demo test test-native test-asan clean format

JOBS ?= $(shell nproc)

all: build

deps:
	@scripts/install-deps.sh native

build: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target gleanery_plugin gleanery

demo: build
	@scripts/demo.sh build/release

test: deps
	cmake --preset debug >/dev/null
	cmake --build --preset debug -j $(JOBS)
	ctest --preset debug -j $(JOBS)
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
