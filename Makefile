# Convenience front end over CMake. `make demo` and `make test` are the two everyday commands.
BUILD ?= build
WINDOWS_BUILD ?= build-windows
JOBS ?= 2

.PHONY: all build test demo windows windows-smoke bench bench-quick package package-windows clean

all: build

build:
	cmake -S . -B $(BUILD)
	cmake --build $(BUILD) -j $(JOBS)

# Every test through CTest, inside a network namespace that has only loopback where the system allows it.
test: build
	sh scripts/run_tests.sh $(BUILD)

# The Linux packages (.deb and .tar.gz in $(BUILD)), then a check of what they hold.
package: build
	cmake --build $(BUILD) --target package
	sh scripts/package_check.sh $(BUILD)

# The .zip of the Windows build, in $(WINDOWS_BUILD).
package-windows: windows
	cmake --build $(WINDOWS_BUILD) --target package

demo: build
	sh scripts/demo.sh $(BUILD)

# trimora.exe for 64-bit Windows, cross-compiled with mingw-w64; static, so it needs only system DLLs.
windows:
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DTRIMORA_BUILD_TESTS=OFF
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# trimora.exe under Wine, driven on a pseudo-terminal, against the Linux simulator.
windows-smoke: windows
	cmake -S . -B $(BUILD)
	cmake --build $(BUILD) -j $(JOBS) --target trimora-sim
	sh scripts/windows_smoke.sh $(WINDOWS_BUILD) $(BUILD)

# The pacing benchmark: the real program against the simulated bench in real time. One table each;
# the exit code is non-zero when a target is missed. bench takes about five minutes, bench-quick one.
bench:
	cmake -S . -B $(BUILD)
	cmake --build $(BUILD) -j $(JOBS) --target trimora trimora-bench
	sh scripts/run_bench.sh $(BUILD)

bench-quick:
	cmake -S . -B $(BUILD)
	cmake --build $(BUILD) -j $(JOBS) --target trimora trimora-bench
	sh scripts/run_bench.sh $(BUILD) --quick

clean:
	rm -rf $(BUILD)
