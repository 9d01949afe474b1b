# The two commands of the README. Both install what is missing first (scripts/bootstrap).
#   make demo   build, then run the tool against the firmware simulator (x86 where this machine runs
#               32-bit code, x64 otherwise)
#   make test   build both flavours, then run every test under Wine in each flavour this machine runs
#   make package  build the 32-bit product, then its setup program, MSI and zip into dist/
#   make fuzz   build, then run N random schedules (default 1000) from SEED (default: the time) in the
#               first flavour this machine runs
#   make mutate check that the tests catch the faults listed in tests/mutations.txt (scripts/mutate)
# PELLORAN_FLAVOURS=x64 (or x86, or x86,x64) forces the flavours instead of asking the machine.
BUILD := build
N := 1000
SEED :=

.PHONY: all bootstrap build test demo package fuzz mutate clean

all: build

bootstrap:
	@scripts/bootstrap

build: bootstrap
	@for f in x86 x64; do cmake --preset $$f >/dev/null && cmake --build --preset $$f || exit 1; done

test: bootstrap
	@scripts/test

# Not part of `make test` (it rebuilds and runs the suite once per mutation): run it whenever the tests
# or the code they cover change.
mutate: bootstrap
	@scripts/mutate

demo: bootstrap
	@scripts/demo

package: bootstrap
	@cmake --preset x86 >/dev/null && cmake --build --preset x86 --target Pelloran pelloranctl
	@scripts/package --flavour x86 --build $(CURDIR)/$(BUILD)/x86 --out $(CURDIR)/dist

fuzz: bootstrap
	@f=$$(scripts/flavours | sed -n '1s/ .*//p') && cmake --preset $$f >/dev/null && cmake --build --preset $$f && \
		scripts/fuzz $(BUILD)/$$f $(N) $(SEED)

clean:
	@for p in $(BUILD)/x86/wine/* $(BUILD)/x64/wine/* $(BUILD)/*/demo/wine $(BUILD)/*/screenshots/wine; do \
		[ -f "$$p/system.reg" ] && scripts/wine-prefix stop "$(CURDIR)/$$p" 2>/dev/null; done; true
	@rm -rf $(BUILD) dist
