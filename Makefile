# The two commands of the README. Both install what is missing first (scripts/bootstrap).
#   make demo   build, then run the tool against the firmware simulator
#   make test   build, then run every test under Wine
BUILD := build

.PHONY: all bootstrap configure build test demo clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake --preset default >/dev/null

build: configure
	@cmake --build --preset default

test: build
	@ctest --preset default

demo: build
	@scripts/demo

clean:
	@for p in tests plain bench; do scripts/wine-prefix stop $(CURDIR)/$(BUILD)/wine/$$p 2>/dev/null || true; done
	@rm -rf $(BUILD)
