# The two set-up commands: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)
PYTHON := /usr/bin/python3

FUZZ_SECONDS ?= 60
SANITIZER_ENV := QT_QPA_PLATFORM=offscreen \
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0

.PHONY: deps configure build program run test sanitize fuzz install deb bench clean

deps:
	@bash .ci/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j$(JOBS)

# Only the program: a first `make run` needs no tests or benchmarks.
program: configure
	cmake --build $(BUILD) -j$(JOBS) --target tolmi

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

# The whole suite again under AddressSanitizer, UndefinedBehaviorSanitizer and leak checking.
sanitize: deps
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=Debug -DTOLMI_SANITIZE=ON
	cmake --build $(BUILD)-asan -j$(JOBS)
	cd $(BUILD)-asan && $(SANITIZER_ENV) ctest --output-on-failure -j$(JOBS)

# The listing-parser fuzzer for a bounded time, on top of the committed corpus.
fuzz: deps
	CXX=clang++ cmake -S . -B $(BUILD)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLMI_FUZZ=ON
	cmake --build $(BUILD)-fuzz -j$(JOBS) --target listing_fuzzer
	mkdir -p $(BUILD)-fuzz/corpus
	$(BUILD)-fuzz/tests/listing_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=65536 \
		$(BUILD)-fuzz/corpus tests/fuzz/corpus

# A demo server with a small tree on port 2121, stopped with the client.
run: program
	@demo=$$(mktemp -d -t tolmi-demo-XXXXXX); trap 'kill $$server; rm -rf $$demo' EXIT; trap exit INT TERM; \
	mkdir -p $$demo/tree/pictures $$demo/tree/文档/内层目录; cd $$demo/tree; \
	printf '这是 tolmi 的演示服务器。\nThis is the tolmi demo server.\n' >说明.txt; \
	echo 'demo report' >'文档/报告 2026.txt'; echo nested >文档/内层目录/深处.txt; \
	$(PYTHON) -c 'open("binary.bin", "wb").write(bytes(range(256)) * 64)'; cd $(CURDIR); \
	$(PYTHON) tests/servers/ftpserver.py $$demo/tree /dev/null port=2121 user=demo password=demo >$$demo/out & \
	server=$$!; until grep -q PORT $$demo/out; do sleep 0.1; kill -0 $$server 2>/dev/null || \
	{ echo 'the demo server did not start (is port 2121 in use?)'; exit 1; }; done; \
	echo 'Type into tolmi:  服务名 127.0.0.1:2121   登录名 demo   密码 demo'; $(BUILD)/tolmi

install: build
	cmake --install $(BUILD)

# tolmi_<version>_<arch>.deb in $(BUILD); `make test` builds it too and runs lintian on it.
deb: build
	cd $(BUILD) && cpack -G DEB

bench: build
	$(BUILD)/bench/tolmi_bench

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-fuzz
