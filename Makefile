# Set-up, build and checks. Every target installs what it needs on a fresh Debian
# machine first (quietly when nothing is missing).

BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
SUDO       := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

# Debian packages for building and testing everything.
APT_PACKAGES := cmake g++ make pkgconf qt6-base-dev libboost-regex-dev libgtest-dev \
                libgmock-dev libcli11-dev chromium xvfb xauth fonts-dejavu-core \
                clang libclang-rt-14-dev hyperfine time fonts-liberation

.PHONY: all deps build test run bench fuzz test-asan test-tsan screenshots install clean web-deps

all: build

deps:
	@missing=""; for p in $(APT_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'ok installed' || missing="$$missing $$p"; \
	done; \
	command -v node >/dev/null && command -v npm >/dev/null || missing="$$missing nodejs npm"; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing >/dev/null; \
	fi

# npm packages of the search-page tests, kept under tests/web/node_modules.
web-deps: deps
	@if [ -f tests/web/package.json ] && [ ! -d tests/web/node_modules/playwright-core ]; then \
	  cd tests/web && npm ci --no-audit --no-fund --loglevel=error; \
	fi

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build web-deps
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The wizard when a display is there; otherwise the command line on the example site.
run: build
	@if [ -x $(BUILD)/bin/vantrelindexer ] && [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  $(BUILD)/bin/vantrelindexer; \
	else \
	  $(BUILD)/bin/vantrelindexer-cli examples/site $(BUILD)/example-index && \
	  echo "Open $(CURDIR)/$(BUILD)/example-index/search.html in a browser."; \
	fi

bench: build web-deps
	bench/run-bench.sh $(BUILD)

# The page-path fuzzer (clang, libFuzzer with ASan/UBSan) for FUZZ_SECONDS seconds, seeded
# from fuzz/seeds and the example site; what it learns stays in build-fuzz/corpus.
FUZZ_SECONDS ?= 60
FUZZ_ARGS    ?=
fuzz: deps
	cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++
	cmake --build build-fuzz -j $(JOBS)
	mkdir -p build-fuzz/corpus build-fuzz/findings
	build-fuzz/page_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=65536 -timeout=60 \
	  -rss_limit_mb=4096 -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 $(FUZZ_ARGS) \
	  build-fuzz/corpus fuzz/seeds $$(test -d examples/site && echo examples/site)

test-asan:
	$(MAKE) test BUILD=build-asan CMAKE_ARGS="-DVANTREL_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug"

# Qt and Boost.Regex are not built with ThreadSanitizer: tests/sanitizers/tsan.supp names
# the orderings inside them that it cannot see. The wizard tests start the command line
# from a process with threads, which the tool allows with die_after_fork=0.
test-tsan:
	TSAN_OPTIONS="suppressions=$(CURDIR)/tests/sanitizers/tsan.supp die_after_fork=0 $$TSAN_OPTIONS" \
	  $(MAKE) test BUILD=build-tsan CMAKE_ARGS="-DVANTREL_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo"

# The four wizard pages under Xvfb, into docs/screenshots/.
screenshots: build
	scripts/screenshots.sh $(BUILD)

install: build
	cmake --install $(BUILD)

clean:
	rm -rf build build-asan build-tsan build-fuzz
