# penshell: the two commands are `make run` and `make test`; each sets itself up.
BUILD ?= build
ARGS ?=
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

SANITIZE_BUILD ?= build-sanitize
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
SOAK_SECONDS ?= 600

# Leaks inside SDL, Mesa and the X libraries are theirs; the program's own are not suppressed.
SANITIZE_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# The first configure builds only what running the program needs; a target
# that needs more switches its part on (once: the choice stays in the cache).
# A new build uses Ninja: it keeps both cores busy where Make's generator waits
# between targets (a fresh make test builds 6 s sooner). A build made before
# keeps its generator.
CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
NEW_BUILD = $(CONFIGURE) -G Ninja -DPENSHELL_TESTS=OFF -DPENSHELL_BENCH=OFF
configured = test -f $(BUILD)/CMakeCache.txt || $(NEW_BUILD)
enable = if test -f $(BUILD)/CMakeCache.txt; then grep -q '^$(1):BOOL=ON' $(BUILD)/CMakeCache.txt \
  || $(CONFIGURE) -D$(1)=ON; else $(NEW_BUILD) -D$(1)=ON; fi

.PHONY: all run demo test bench pictures sanitize tsan fuzz soak memcheck install-check aarch64-check clean \
  install package package-check web-kernel-check web web-check kernel-flags-check charts bench-charts \
  npm npm-check

all: test

run:
	@scripts/setup.sh run
	@$(configured)
	@cmake --build $(BUILD) -j $(JOBS) --target penshell
	@scripts/run.sh $(BUILD)/penshell $(ARGS)

# The cloth program, shown the way make run shows penshell.
demo:
	@scripts/setup.sh run
	@$(configured)
	@cmake --build $(BUILD) -j $(JOBS) --target penshell-cloth
	@scripts/demo.sh $(BUILD)/penshell-cloth $(ARGS)

test:
	@scripts/setup.sh test
	@$(call enable,PENSHELL_TESTS)
	@cmake --build $(BUILD) -j $(JOBS)
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE slow

# The kernel's exactness check built with every compiler line users build
# with, and the springs' parts on every part count, with rules and stalled:
# longer than make test should take.
kernel-flags-check:
	@scripts/setup.sh test
	@$(call enable,PENSHELL_TESTS)
	@cmake --build $(BUILD) -j $(JOBS)
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L slow

# The figures also land in $(BENCH_OUT) as JSON, for make charts.
BENCH_OUT ?= $(BUILD)/bench
bench:
	@scripts/setup.sh bench
	@$(call enable,PENSHELL_BENCH)
	@cmake --build $(BUILD) -j $(JOBS) --target penshell_bench
	@mkdir -p $(BENCH_OUT)
	@$(BUILD)/penshell_bench --benchmark_out=$(BENCH_OUT)/native.json --benchmark_out_format=json \
	  --figures_out=$(BENCH_OUT)/figures.json
	@scripts/setup.sh web-kernel npm
	@FIGURES_DIR=$(BENCH_OUT) NPM_BUILD=$(NPM_BUILD) scripts/web-bench.sh $(WEB_BUILD)/kernel $(WEB_BENCH_ROUNDS)

# The charts in docs/charts/, drawn again from the last make bench's JSON.
charts:
	@scripts/setup.sh charts
	@scripts/charts.py $(BENCH_OUT) docs/charts

# Measures and draws in one go (on an idle machine: the charts are committed).
bench-charts:
	@$(MAKE) bench
	@$(MAKE) charts

# Redraws the picture sources and regenerates the picture texts from them.
pictures:
	@scripts/setup.sh pictures
	@$(configured)
	@scripts/make-pictures.sh $(BUILD)

# The whole suite; the springs' parts on every part count only, which
# includes what make test runs of them.
sanitize:
	@scripts/setup.sh sanitize
	@test -f $(SANITIZE_BUILD)/CMakeCache.txt || cmake -S . -B $(SANITIZE_BUILD) \
	  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DPENSHELL_SANITIZE=ON -DPENSHELL_BENCH=OFF
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	@cd $(SANITIZE_BUILD) && $(SANITIZE_ENV) ctest --output-on-failure -E '^spring_parts_(exactness|jitter)$$'

# The springs' and the collisions' parts on threads of their own under
# ThreadSanitizer: every wait, publish and meeting checked, with and without
# random stalls; then the cloth program's relaxation, its worker handed pass
# after pass.
tsan:
	@scripts/setup.sh tsan
	@test -f $(TSAN_BUILD)/CMakeCache.txt || cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DPENSHELL_TSAN=ON -DPENSHELL_BENCH=OFF
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target spring_parts_exactness spring_parts_jitter collide_exactness \
	  collide_jitter test_cloth
	@cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --output-on-failure \
	  -R '^(spring_parts_(exactness|jitter)_64|collide_exactness|collide_jitter)$$'
	@cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1:suppressions=$(CURDIR)/scripts/tsan.supp ./test_cloth --gtest_brief=1

fuzz:
	@scripts/setup.sh fuzz
	@test -f $(FUZZ_BUILD)/CMakeCache.txt || cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DPENSHELL_FUZZ=ON -DPENSHELL_TESTS=OFF -DPENSHELL_BENCH=OFF
	@cmake --build $(FUZZ_BUILD) --target fuzz_picture_text fuzz_gimp_header fuzz_springs fuzz_collide -j $(JOBS)
	@scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

soak:
	@scripts/setup.sh run soak
	@$(configured)
	@cmake --build $(BUILD) -j $(JOBS) --target penshell frame_counter
	@scripts/soak.sh $(BUILD) $(SOAK_SECONDS)

# Memcheck over the unit tests that need no X server.
memcheck:
	@scripts/setup.sh test memcheck
	@$(call enable,PENSHELL_TESTS)
	@cmake --build $(BUILD) -j $(JOBS)
	@for t in test_physics kernel_exactness collide_behaviour test_events test_picture_text test_builtin_pictures; do \
	  echo "memcheck: $$t"; \
	  valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
	    $(BUILD)/$$t --gtest_brief=1 >/dev/null || exit 1; \
	done; echo "memcheck: no errors"

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(AARCH64_BUILD) $(PACKAGE_BUILD) $(WEB_BUILD) \
	  $(NPM_BUILD)

# The kernel as others use it: installed into a temporary prefix, the prefix
# moved, the example built through find_package and through pkg-config.
install-check:
	@scripts/setup.sh run install-check
	@$(configured)
	@cmake --build $(BUILD) -j $(JOBS) --target physics
	@scripts/check-install.sh $(BUILD)

# The kernel and its exactness check alone, cross-compiled for aarch64 and run
# under qemu-user: the same bits as on x86-64.
AARCH64_BUILD ?= build-aarch64
aarch64-check:
	@scripts/setup.sh cross
	@RUN="qemu-aarch64 -L /usr/aarch64-linux-gnu" tests/kernel_flags.sh $(AARCH64_BUILD) \
	  "aarch64-linux-gnu-g++ -O2" "aarch64-linux-gnu-g++ -std=c++17 -O3"

# The kernel and its exactness check built with emscripten and run under
# node, with WebAssembly SIMD128 and without: the same bits as natively.
WEB_BUILD ?= build-web
WEB_BENCH_ROUNDS ?= 15
web-kernel-check:
	@scripts/setup.sh web-kernel
	@scripts/web-kernel-check.sh $(WEB_BUILD)/kernel

# The programs, their manual pages and the kernel, installed from the build
# (cmake --install; /usr/local unless PREFIX is given): sudo make install.
PREFIX ?=
install:
	@scripts/setup.sh install
	@$(configured)
	@cmake --build $(BUILD) -j $(JOBS)
	@cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# Debian packages, from a Release build of their own: penshell (the programs
# and manual pages) and libpenshell-physics-dev (the kernel's files).
PACKAGE_BUILD ?= build-package
package:
	@scripts/setup.sh package
	@JOBS=$(JOBS) scripts/package.sh $(PACKAGE_BUILD)

# The packages installed on this machine, used, purged: for CI (needs root or sudo).
package-check: package
	@scripts/setup.sh package-check
	@scripts/package-check.sh $(PACKAGE_BUILD)/packages

# penshell and penshell-cloth for browsers (emscripten), a static site in
# build-web/: served on 127.0.0.1 with a display, shown in headless Chromium without.
web:
	@scripts/setup.sh web npm
	@JOBS=$(JOBS) NPM_BUILD=$(NPM_BUILD) scripts/web.sh build $(WEB_BUILD)
	@scripts/web.sh run $(WEB_BUILD) $(ARGS)

# The site and the kernel's exactness in headless Chromium and Firefox, on a
# server and browsers of their own, then the kernel's exactness under node.
web-check:
	@scripts/setup.sh web npm
	@JOBS=$(JOBS) NPM_BUILD=$(NPM_BUILD) scripts/web.sh build $(WEB_BUILD)
	@scripts/web.sh check $(WEB_BUILD)
	@$(MAKE) web-kernel-check

# The kernel as an npm package for JavaScript (both WebAssembly builds, the
# API, its types), packed by npm pack into $(NPM_BUILD)/penshell-physics-*.tgz.
NPM_BUILD ?= build-npm
npm:
	@scripts/setup.sh npm
	@JOBS=$(JOBS) scripts/npm.sh build $(NPM_BUILD)

# That tarball installed into a scratch project and used as users get it:
# node tests, tsc --strict against its types, a page in Chromium and Firefox.
npm-check: npm
	@scripts/setup.sh npm-check
	@scripts/npm.sh check $(NPM_BUILD)
