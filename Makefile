# Gleanery: the two everyday commands are `make demo` and `make test`.
.PHONY: all deps build build-only install uninstall demo test test-native test-asan test-tsan test-doublecmd fuzz fuzz-build clean format

JOBS ?= $(shell nproc)

all: build

deps:
	@scripts/install-deps.sh native

build: deps
	@$(MAKE) --no-print-directory build-only

# The release build alone, without the package check (no root needed when the packages are there).
build-only:
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target gleanery_plugin gleanery

# The host in $(PREFIX)/bin, the plug-in with its sample settings and language file in
# $(PREFIX)/lib/gleanery, the manual page and bash completion under $(PREFIX)/share; DESTDIR is
# honoured. `make uninstall` removes what the install listed in its manifest.
PREFIX ?= /usr/local
install: build-only
	PREFIX="$(PREFIX)" DESTDIR="$(DESTDIR)" scripts/install.sh install build/release

uninstall:
	PREFIX="$(PREFIX)" DESTDIR="$(DESTDIR)" scripts/install.sh uninstall

demo: build
	@scripts/demo.sh build/release

# Sanitizer runs: LeakSanitizer on, any finding fails the run.
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Windows builds under Wine, the fuzz targets' smoke run, then the native suites (debug, and
# under the sanitizers), and the parallel search under ThreadSanitizer.
test: deps test-windows
	$(MAKE) --no-print-directory fuzz-build
	scripts/run-fuzz.sh build/fuzz $(FUZZ_SMOKE_SECONDS)
	cmake --preset debug >/dev/null
	cmake --build --preset debug -j $(JOBS)
	ctest --preset debug -j $(JOBS)
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	$(SANITIZER_ENV) ctest --preset asan -j $(JOBS)
	$(MAKE) --no-print-directory test-tsan

# The parallel search under ThreadSanitizer: the job tests (workers side by side, cancels, failed
# writes) and the whole packs of the plug-in.
TSAN_OPTIONS_ENV = TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
TSAN_JOB_TESTS = JobReliability.Workers*:JobReliability.ACancel*:JobReliability.CancelAt*:JobReliability.WriteFailure*:JobReliability.MemoryRunningOut*
test-tsan:
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS) --target job_tests plugin_tests gleanery_plugin
	$(TSAN_OPTIONS_ENV) build/tsan/tests/job_tests --gtest_filter='$(TSAN_JOB_TESTS)'
	$(TSAN_OPTIONS_ENV) build/tsan/tests/plugin_tests --gtest_filter='Packing.*'

# The settings dialog inside the real Double Commander (doublecmd-gtk) under Xvfb, driven with
# xdotool; screenshots in build/release/doublecmd-test/.
test-doublecmd:
	@scripts/install-deps.sh doublecmd
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target gleanery_plugin
	scripts/test-doublecmd.sh build/release

# Fuzz targets (clang libFuzzer): `make fuzz` runs each for FUZZ_SECONDS and keeps the corpus
# it grows in build/fuzz/corpus; `make test` runs each for a few seconds on its seeds only.
FUZZ_SECONDS ?= 300
FUZZ_SMOKE_SECONDS ?= 5

fuzz-build:
	@scripts/install-deps.sh fuzz
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS) --target fuzz_all

fuzz: fuzz-build
	scripts/run-fuzz.sh build/fuzz $(FUZZ_SECONDS) build/fuzz/corpus

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build

# --- Windows: Gleanery.wcx64 and Gleanery.wcx, cross-built with mingw-w64, tested under Wine ---
# 32-bit programs run through qemu-user where the kernel cannot run them itself
# (scripts/setup-qemu-i386.sh); where even that is impossible ctest reports them as skipped.
.PHONY: windows-deps build-windows test-windows dist
WIN32_TESTS = plugin_tests|dll_tables|dialog_ui|dialog_panels_ui
XVFB = xvfb-run -a -s "-screen 0 1280x1024x24"

windows-deps:
	@scripts/install-deps.sh windows

build-windows: windows-deps
	cmake --preset win64 >/dev/null
	cmake --build --preset win64 -j $(JOBS)
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS) --target gleanery_plugin gleanery plugin_tests \
		dialog_ui_test dialog_panels_ui_test

test-windows: build-windows
	@how=$$(scripts/setup-qemu-i386.sh) || echo "*** 32-bit Windows tests will be SKIPPED: $$how ***"
	$(XVFB) sh -c 'ctest --preset win64 -j $(JOBS) && \
		ctest --preset win32 -j $(JOBS) -R "^($(WIN32_TESTS))$$"'
	$(MAKE) --no-print-directory dist-windows
	scripts/check-dist.sh build/dist/Gleanery.zip

# The release archives, checked: Gleanery.zip for Total Commander (both DLLs, the sample
# settings, the language file, a readme and pluginst.inf) and gleanery-linux-x86_64.tar.gz (host,
# plug-in, sample settings, language file, manual page, bash completion, install.sh, a readme).
.PHONY: dist-windows dist-linux
dist: dist-windows dist-linux
	scripts/check-dist.sh build/dist/Gleanery.zip build/dist/gleanery-linux-x86_64.tar.gz

dist-windows: windows-deps
	cmake --preset win64 >/dev/null
	cmake --build --preset win64 -j $(JOBS) --target gleanery_plugin
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS) --target gleanery_plugin
	scripts/make-dist.sh build/dist/Gleanery.zip build/win64/Gleanery.wcx64 build/win32/Gleanery.wcx

dist-linux: build-only
	scripts/make-dist.sh build/dist/gleanery-linux-x86_64.tar.gz build/release

# Benchmarks against the bare PCRE loop and the peer tools: a table and a chart in bench/results/.
# BENCH_ARGS passes options to the driver, e.g. BENCH_ARGS="--large" or "--repeat 5".
.PHONY: bench
bench:
	@scripts/install-deps.sh bench
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target bench_tools
	/usr/bin/python3 bench/run.py --build build/release $(BENCH_ARGS)
