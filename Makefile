# `make test`: install what is missing, build, run every test; it passes only
# when every test ran and passed.
# `make test-native`: only the tests that need neither Wine nor the virtual
# machine (a partial run).
# `make demo`: build and run the plug-in inside the stand-in host, in the
# terminal (scripted when the output is not a terminal); DB=file for another
# database, ENV=dos for the DOS extender.
# `make dist`: everything `make test` does, then the release archive
# dist/Tolmar-<version>.zip.
WIN   := build/win32
NAT   := build/native
CTEST_ARGS ?= --output-on-failure

.PHONY: all setup build test test-native demo dist clean

all: build

setup:
	@bash scripts/setup.sh

$(WIN)/build.ninja:
	cmake -S . -B $(WIN) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	      -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/i686-mingw.cmake

$(NAT)/build.ninja:
	cmake -S tests/native -B $(NAT) -G Ninja -DCMAKE_BUILD_TYPE=Release

build: setup $(WIN)/build.ninja $(NAT)/build.ninja
	cmake --build $(WIN)
	cmake --build $(NAT)

# The tests that need neither Wine nor the virtual machine; they leave their
# status in rc.
NATIVE_TESTS = rc=0; (cd $(NAT) && ../../scripts/ctest-run.sh $(CTEST_ARGS)) || rc=$$?; \
	  (cd $(WIN) && ../../scripts/ctest-run.sh $(CTEST_ARGS) -j2 -LE 'wine|vm') || rc=$$?

# Those, the tests that need Wine, then those that boot the virtual machine of
# scripts/vm-run.sh (label vm), which use the Wine prefix made by the first.
test: build
	@$(NATIVE_TESTS); \
	  scripts/wine-tests.sh $(WIN) $(CTEST_ARGS) || rc=$$?; \
	  (cd $(WIN) && ../../scripts/ctest-run.sh $(CTEST_ARGS) -L vm) || rc=$$?; \
	  [ $$rc -eq 0 ] || echo "make test: FAILED (see above)" >&2; \
	  exit $$rc

test-native: build
	@$(NATIVE_TESTS); exit $$rc

# `make demo DB=path/to/shop.json` runs it on another database; ENV=dos as
# the host under the DOS extender.
demo: build
	@scripts/demo.sh $(WIN) $(DB) $(if $(ENV),--env $(ENV))

dist: test
	cmake --build $(WIN) --target dist

clean:
	rm -rf build
