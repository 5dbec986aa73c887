# Newcomer entry points: `make run` and `make test` (see README.md).
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: deps build run test clean

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@test -e $(BUILD)/dojang.mdb || $(BUILD)/kaldoria-db create $(BUILD)/dojang.mdb --sample
	$(BUILD)/kaldoria

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
