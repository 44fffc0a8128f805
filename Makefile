# Convenience front end over CMake. `make demo` and `make test` are the two everyday commands.
BUILD ?= build
JOBS ?= 2

.PHONY: all build test demo clean

all: build

build:
	cmake -S . -B $(BUILD)
	cmake --build $(BUILD) -j $(JOBS)

# Every test through CTest, inside a network namespace that has only loopback where the system allows it.
test: build
	sh scripts/run_tests.sh $(BUILD)

demo: build
	sh scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
