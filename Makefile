# The two commands of the README. Both install what is missing first (scripts/bootstrap).
#   make demo   build, then run the tool against the firmware simulator (x86 where this machine runs
#               32-bit code, x64 otherwise)
#   make test   build both flavours, then run every test under Wine in each flavour this machine runs
#   make package  build the 32-bit product, then its setup program, MSI and zip into dist/
# PELLORAN_FLAVOURS=x64 (or x86, or x86,x64) forces the flavours instead of asking the machine.
BUILD := build

.PHONY: all bootstrap build test demo package clean

all: build

bootstrap:
	@scripts/bootstrap

build: bootstrap
	@for f in x86 x64; do cmake --preset $$f >/dev/null && cmake --build --preset $$f || exit 1; done

test: bootstrap
	@scripts/test

demo: bootstrap
	@scripts/demo

package: bootstrap
	@cmake --preset x86 >/dev/null && cmake --build --preset x86 --target Pelloran
	@scripts/package --flavour x86 --build $(CURDIR)/$(BUILD)/x86 --out $(CURDIR)/dist

clean:
	@for p in $(BUILD)/x86/wine/* $(BUILD)/x64/wine/* $(BUILD)/*/demo/wine $(BUILD)/*/screenshots/wine; do \
		[ -f "$$p/system.reg" ] && scripts/wine-prefix stop "$(CURDIR)/$$p" 2>/dev/null; done; true
	@rm -rf $(BUILD) dist
