# make run   : install what is missing, build everything, run the hello demo
# make test  : install what is missing, build everything, run the whole suite
BUILD ?= build
JOBS  ?= 2

.PHONY: all deps configure build run test asan fuzz windows clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/kavel demos/01_hello.kv

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKAVEL_SANITIZE=ON > /dev/null
	@cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

# libFuzzer targets, built with clang into build-fuzz/bin.
fuzz: deps
	@CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVEL_FUZZ=ON -DBUILD_TESTING=OFF > /dev/null
	@cmake --build build-fuzz -j $(JOBS)

# The toolchain for Windows, cross-built with mingw-w64 and laid out in dist/windows/
# as setup.exe's source folder (tools/nasm.exe built from Debian's NASM source).
windows: deps
	@bash installer/build-windows.sh --build build-windows --dist dist/windows

clean:
	rm -rf $(BUILD) build-asan build-fuzz
