# `make test`: install what is missing, build, run every test.
# `make demo`: build and run the plug-in inside the stand-in host, in the
# terminal (scripted when the output is not a terminal); DB=file for another
# database.
WIN   := build/win32
NAT   := build/native
CTEST_ARGS ?= --output-on-failure

.PHONY: all setup build test demo clean

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

test: build
	@rc=0; (cd $(NAT) && ctest $(CTEST_ARGS)) || rc=$$?; \
	  (cd $(WIN) && ctest $(CTEST_ARGS) -j2 -LE wine) || rc=$$?; \
	  scripts/wine-tests.sh $(WIN) $(CTEST_ARGS) || rc=$$?; \
	  exit $$rc

# `make demo DB=path/to/shop.json` runs it on another database.
demo: build
	@scripts/demo.sh $(WIN) $(DB)

clean:
	rm -rf build
