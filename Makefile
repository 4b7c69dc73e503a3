# Two commands for a new user: `make demo` and `make test`.
# Ninja is used where it is installed, plain Make otherwise.
GENERATOR := $(if $(shell command -v ninja 2>/dev/null),Ninja,Unix Makefiles)
PRESET ?= default
BUILD_DIR := $(if $(filter default,$(PRESET)),build,build-$(PRESET))
JOBS ?= 2

.PHONY: build test demo configure clean

$(BUILD_DIR)/CMakeCache.txt:
	cmake --preset $(PRESET) -G "$(GENERATOR)"

configure: $(BUILD_DIR)/CMakeCache.txt

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	ctest --preset $(PRESET) -j $(JOBS)

demo: build
	$(BUILD_DIR)/zorgaval-sim

clean:
	rm -rf build build-*
