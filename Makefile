# Set-up, build and checks. Each target installs the Debian packages it needs first
# (quietly when nothing is missing; another package manager at work is waited for).

BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
PREFIX     ?= /usr/local
INSTALL    := scripts/install-packages.sh

# Debian packages: to build and run; to test; for sanitizers and the fuzzer; to build
# the Debian package; to check it.
BUILD_PACKAGES   := cmake g++ make pkgconf qt6-base-dev libboost-regex-dev libcli11-dev \
                    libicu-dev libstemmer-dev libcld2-dev libxxhash-dev
TEST_PACKAGES    := libgtest-dev libgmock-dev python3 chromium xvfb xauth fonts-dejavu-core fonts-liberation
CHECK_PACKAGES   := clang libclang-rt-14-dev
BENCH_PACKAGES   := hyperfine time
PACKAGE_PACKAGES := help2man dpkg-dev file
LINT_PACKAGES    := lintian

# Sub-makes of the build say what they build, not which folder they enter.
MAKEFLAGS += --no-print-directory

.PHONY: all deps test-deps web-deps build test run bench fuzz test-asan test-tsan \
        screenshots install package check-package planted-faults clean

all: build

deps:
	@$(INSTALL) $(BUILD_PACKAGES)

# Node.js and npm may come from elsewhere than Debian; Debian's are installed only
# when there are none.
test-deps: deps
	@$(INSTALL) $(TEST_PACKAGES) $$(command -v node >/dev/null && command -v npm >/dev/null || echo nodejs npm)

# The npm packages of the search-page browser test (playwright-core, axe-core), kept under tests/web/node_modules.
web-deps: test-deps
	@if [ -f tests/web/package.json ] && { [ ! -d tests/web/node_modules/playwright-core ] || [ ! -d tests/web/node_modules/axe-core ]; }; then \
	  cd tests/web && npm ci --no-audit --no-fund --loglevel=error; \
	fi

# Configured every time, so that a build first made without the test packages (make
# run) takes up the tests once they are installed.
build: deps
	@cmake -S . -B $(BUILD) $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: web-deps build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The wizard when a display is there; otherwise the command line on the example site.
run: build
	@if [ -x $(BUILD)/bin/vantrelindexer ] && [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  $(BUILD)/bin/vantrelindexer; \
	else \
	  $(BUILD)/bin/vantrelindexer-cli --overwrite examples/site $(BUILD)/example-index; \
	  echo "Open $(CURDIR)/$(BUILD)/example-index/search.html in a browser."; \
	fi

bench: web-deps build
	@$(INSTALL) $(BENCH_PACKAGES)
	bench/run-bench.sh $(BUILD)

# The page-path fuzzer (clang, libFuzzer with ASan/UBSan) for FUZZ_SECONDS seconds, seeded
# from fuzz/seeds and the example site; what it learns stays in build-fuzz/corpus.
FUZZ_SECONDS ?= 60
FUZZ_ARGS    ?=
fuzz: deps
	@$(INSTALL) $(CHECK_PACKAGES)
	@cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@mkdir -p build-fuzz/corpus build-fuzz/findings
	build-fuzz/page_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=65536 -timeout=60 \
	  -rss_limit_mb=4096 -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 $(FUZZ_ARGS) \
	  build-fuzz/corpus fuzz/seeds $$(test -d examples/site && echo examples/site)

test-asan:
	$(MAKE) test BUILD=build-asan CMAKE_ARGS="-DVANTREL_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug"

# The engine's threads under ThreadSanitizer: the page pipeline, the ranking helper and
# stops at every point of a job (TSAN_TESTS picks the tests). Boost.Regex is not built
# with ThreadSanitizer: tests/sanitizers/tsan.supp names what it cannot see there.
TSAN_TESTS ?= .
test-tsan: test-deps
	@cmake -S . -B build-tsan -DVANTREL_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVANTREL_BUILD_WIZARD=OFF >/dev/null
	@cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS="suppressions=$(CURDIR)/tests/sanitizers/tsan.supp halt_on_error=1 $$TSAN_OPTIONS" \
	  ctest --output-on-failure -j $(JOBS) -LE browser -R '$(TSAN_TESTS)'

# The four wizard pages under Xvfb, into docs/screenshots/.
screenshots: test-deps build
	scripts/screenshots.sh $(BUILD)

# Installs under PREFIX (default /usr/local), below DESTDIR when given.
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package of both programs in $(BUILD)/packages. help2man is installed before
# the build configures, so that the first package has its manual page too.
package: deps
	@$(INSTALL) $(PACKAGE_PACKAGES)
	@$(MAKE) build
	@rm -f $(BUILD)/packages/*.deb
	@cd $(BUILD) && cpack -G DEB -B packages >/dev/null
	@ls $(BUILD)/packages/*.deb

# Builds the package and checks its control data, its files and what lintian says.
check-package: package
	@$(INSTALL) $(LINT_PACKAGES)
	scripts/check-package.sh $(BUILD)/packages/*.deb

# Plants each fault of tests/*/planted-faults.tsv in a fresh copy of the committed tree
# and checks that the test the row names catches it (tests/planted-faults.sh). FAULTS
# picks suites (engine, web, wizard) or rows; FAULTS=--check only says which rows apply.
FAULTS ?=
planted-faults: web-deps
	tests/planted-faults.sh $(FAULTS)

clean:
	rm -rf build build-asan build-tsan build-fuzz
