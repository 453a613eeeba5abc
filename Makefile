# penshell: the two commands are `make run` and `make test`; each sets itself up.
BUILD ?= build
ARGS ?=
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

.PHONY: all setup configure build run test bench clean

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

clean:
	rm -rf $(BUILD)
