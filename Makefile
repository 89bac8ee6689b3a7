# Convenience entry points: `make run` builds and runs the example basin,
# `make test` builds and runs every test (it needs GoogleTest; `make run`
# does not).
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: all build configure model run run-small balance balance-outputs test bench bench-full clean

all: build

# Configures once; later builds let CMake see for itself what changed.
configure:
	@test -f $(BUILD_DIR)/CMakeCache.txt || cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The model alone, without the tests.
model: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target ruvex

run: model
	mkdir -p examples/basin/output
	cd examples/basin && ../../$(BUILD_DIR)/ruvex basin.ctl -diagfile:output/basin_diag.xml

# The example's two years with the water ledger of the basin and of each
# subbasin, printed year by year (the run's outputs as `make run` writes them).
balance: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target ruvex_balance
	mkdir -p examples/basin/output
	cd examples/basin && ../../$(BUILD_DIR)/tests/ruvex_balance basin.ctl

# The example's balance year by year from the outputs of the last `make run`
# or `make balance` alone (statistics and routing files, not the ledger).
balance-outputs:
	python3 tools/balance_from_outputs.py examples/basin/output

# The smallest run: two subbasins, one temperature station file, ten days.
run-small: model
	mkdir -p examples/output
	cd examples && ../$(BUILD_DIR)/ruvex example.ctl -diagfile:example_diag.xml

# The tests need GoogleTest; without it the model still builds and runs.
test: build
	@if ! grep -Eq '^RUVEX_HAVE_GTEST:INTERNAL=(1|ON|TRUE)$$' $(BUILD_DIR)/CMakeCache.txt; then \
	  echo "make test: GoogleTest was not found, so no tests were built."; \
	  echo "Install it (Debian/Ubuntu: sudo apt-get install libgtest-dev), then run: rm -rf $(BUILD_DIR) && make test"; \
	  exit 1; fi
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# About ten minutes: whole runs on a 400 x 300 valley at 1, 2, 4 and 8
# threads, the whole vertical model on 300 x 300 cells, the phases in process
# on a small grid; each figure beside its aim.
bench: build
	cmake --build $(BUILD_DIR) --target bench

# The long phases (one and a half to two hours).
bench-full: build
	cmake --build $(BUILD_DIR) --target bench-full

clean:
	rm -rf $(BUILD_DIR)
