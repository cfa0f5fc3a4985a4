# Thin wrapper over the CMake presets: `make run`, `make test`, `make bench`.
PRESET ?= default
BUILD_DIR := build/$(PRESET)
# Debian packages the build and the tests need (see docs/DECISIONS.md for any beyond the usual set).
PACKAGES := cmake ninja-build g++ qt6-base-dev libgl-dev libgtest-dev libgmock-dev googletest \
            libbenchmark-dev tshark libedit-dev libsystemd-dev pkg-config dpkg-dev lintian \
            qt6-httpserver-dev qt6-websockets-dev python3-prometheus-client chromium nodejs
RUN_ARGS ?= --start

.PHONY: all deps configure build test bench load run clean format package village-dump \
        web-screenshot web-flood

all: build

# Installs whatever is missing, but only when we may (root); otherwise says what is missing.
deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing >/dev/null; \
	  else \
	    echo "missing Debian packages:$$missing (run 'make deps' as root)"; exit 1; \
	  fi; \
	fi

configure: deps
	@test -f $(BUILD_DIR)/build.ninja || cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET)

test: build
	ctest --preset $(PRESET) -j2

bench: build
	@for b in $(BUILD_DIR)/bin/bench_*; do [ -x "$$b" ] && { echo "== $$b"; "$$b" || exit 1; }; done; true

# The load benchmark: the real server driven by er-bot, one row per step of players.
PLAYERS ?= 250 500 1000 2000 4000
PATTERN ?= spread
DURATION ?= 10
load: build
	bash bench/load/load.sh $(BUILD_DIR) --players "$(PLAYERS)" --pattern $(PATTERN) --duration $(DURATION)

# The Debian package, in the build folder (see docs/operations.md).
package: build
	cd $(BUILD_DIR) && cpack -G DEB

# The default world's first simulated hour, which e2e_village_simulate compares; make it anew
# when the world changes on purpose (see docs/world-authoring.md).
village-dump: build
	bash tests/e2e/village_simulate.sh $(CURDIR)/$(BUILD_DIR)/bin/emberrealms-server --update

# The web console's page in headless Chromium against the real server, its screenshot kept
# for docs/web-console.md.
web-screenshot: build
	bash tests/e2e/web_browser.sh $(CURDIR)/$(BUILD_DIR)/bin/emberrealms-server \
	    $(CURDIR)/$(BUILD_DIR)/bin/er-bot $(CURDIR)/docs/images/web-console.png

# The game tick's lateness, quiet and under a flood of bad web console requests.
RATE ?= 1000
web-flood: build
	bash bench/load/web_flood.sh $(BUILD_DIR) --rate $(RATE)

run: build
	$(BUILD_DIR)/bin/emberrealms-server --data gamedata $(RUN_ARGS)

format:
	find src tests tools bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf build
