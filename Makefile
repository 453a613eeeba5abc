# penshell: the two commands are `make run` and `make test`; each sets itself up.
BUILD ?= build
ARGS ?=
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
SOAK_SECONDS ?= 600

# Leaks inside SDL, Mesa and the X libraries are theirs; the program's own are not suppressed.
SANITIZE_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

.PHONY: all setup configure build run test bench pictures sanitize fuzz soak memcheck clean

all: build

setup:
	@scripts/setup.sh

configure: setup
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run.sh $(BUILD)/penshell $(ARGS)

test: build
	@cd $(BUILD) && ctest --output-on-failure

bench: build
	@$(BUILD)/penshell_bench

# Redraws the picture sources and regenerates the picture texts from them.
pictures: configure
	@scripts/make-pictures.sh $(BUILD)

sanitize: setup
	@test -f $(SANITIZE_BUILD)/CMakeCache.txt || cmake -S . -B $(SANITIZE_BUILD) \
	  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DPENSHELL_SANITIZE=ON -DPENSHELL_BENCH=OFF
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	@cd $(SANITIZE_BUILD) && $(SANITIZE_ENV) ctest --output-on-failure

fuzz: setup
	@test -f $(FUZZ_BUILD)/CMakeCache.txt || cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DPENSHELL_FUZZ=ON -DPENSHELL_TESTS=OFF -DPENSHELL_BENCH=OFF
	@cmake --build $(FUZZ_BUILD) --target fuzz_picture_text -j $(JOBS)
	@mkdir -p $(FUZZ_BUILD)/corpus
	@$(FUZZ_BUILD)/fuzz_picture_text -max_total_time=$(FUZZ_SECONDS) -malloc_limit_mb=256 \
	  -print_final_stats=1 $(FUZZ_BUILD)/corpus fuzz/corpus

soak: build
	@scripts/soak.sh $(BUILD) $(SOAK_SECONDS)

# Memcheck over the unit tests that need no X server.
memcheck: build
	@for t in test_physics test_events test_picture_text test_builtin_pictures; do \
	  echo "memcheck: $$t"; \
	  valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
	    $(BUILD)/$$t --gtest_brief=1 >/dev/null || exit 1; \
	done; echo "memcheck: no errors"

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD)
