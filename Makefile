# The two set-up commands: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
PYTHON := /usr/bin/python3

.PHONY: deps build run test install bench clean

deps:
	@bash .ci/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

run: build
	$(PYTHON) tests/servers/demo_server.py -- $(BUILD)/tolmi

install: build
	cmake --install $(BUILD)

bench: build
	$(BUILD)/bench/tolmi_bench

clean:
	rm -rf $(BUILD)
