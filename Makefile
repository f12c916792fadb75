# The README's two commands: `make run` and `make test`.
BUILD ?= build
# The developers' and CI's builds treat warnings as errors (WERROR=0 to report only).
WERROR ?= 1
CMAKE_FLAGS ?=
ifeq ($(WERROR),1)
CMAKE_FLAGS += -DVELMAR_WERROR=ON
endif
JOBS ?= $(shell nproc)

ifeq ($(SANITIZE),1)
BUILD := build-asan
CMAKE_FLAGS += -DVELMAR_SANITIZE=ON
endif

.PHONY: all setup configure build run test fuzz bench clean

all: build

setup:
	@scripts/setup

configure: setup
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

run: build
	$(BUILD)/bin/Velmar $(ARGS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

bench: build
	@for b in $(BUILD)/bench/*; do [ -x "$$b" ] && "$$b"; done

fuzz: setup
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVELMAR_FUZZ=ON $(filter -DVELMAR_WERROR=%,$(CMAKE_FLAGS)) >/dev/null
	@cmake --build build-fuzz -j$(JOBS)
	@scripts/fuzz build-fuzz/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build build-asan build-fuzz

# The Windows build (MinGW-w64) and its tests under Wine, in build-windows-mingw/.
.PHONY: test-windows
test-windows:
	@scripts/test-windows
