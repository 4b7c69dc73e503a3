# Two commands for a new user: `make demo` and `make test`.
# Ninja is used where it is installed, plain Make otherwise.
GENERATOR := $(if $(shell command -v ninja 2>/dev/null),Ninja,Unix Makefiles)
JOBS ?= 2
SECONDS ?= 60
FUZZ_TARGETS := format_fuzz options_fuzz scenario_fuzz board_input_fuzz ssh_input_fuzz web_input_fuzz call_fuzz

.PHONY: build build-all install deb test demo test-asan test-kill test-board-load fuzz bench clean packages lint

# The Debian packages the build and the tests need. A fresh machine lacks
# the live board's (libboost-dev, libssh-dev, libtelnet-dev, libsodium-dev,
# libsystemd-dev) and the clients its tests drive (telnet, expect, openssh-client
# and sshpass, chromium; systemd for systemd-analyze; the servers the front
# door is tried before: rsh-redone-server, inetutils-telnetd, tinymux), and npm unless a
# Node.js that has it is there already: run as root, this installs what is missing;
# otherwise it stops and names the one command to run.
PACKAGES := cmake ninja-build pkg-config libsqlite3-dev libgtest-dev \
  libgmock-dev libbenchmark-dev clang libclang-rt-14-dev clang-format clang-tidy \
  libboost-dev libssh-dev libssl-dev libtelnet-dev libsodium-dev libsystemd-dev systemd logrotate telnet expect \
  openssh-client sshpass python3-paramiko rsh-redone-server inetutils-telnetd tinymux \
  util-linux fail2ban nodejs chromium python3-prometheus-client openssl \
  $(if $(shell command -v npm 2>/dev/null),,npm)

packages:
	@missing=$$(for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	done | tr '\n' ' '); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing: $$missing"; \
	    apt-get update -q && \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	  else \
	    echo "Missing Debian packages: $$missing"; \
	    echo "Run: sudo sh -c 'apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing'"; \
	    exit 1; \
	  fi; \
	fi
	@# xterm.js for the web terminal and puppeteer-core for its browser test,
	@# as package-lock.json pins them; again only when the lock changed.
	@if [ ! -f node_modules/.package-lock.json ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then \
	  PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund; \
	fi

build/CMakeCache.txt: | packages
	cmake --preset default -G "$(GENERATOR)"

build-%/CMakeCache.txt: | packages
	cmake --preset $* -G "$(GENERATOR)"

# The programs and the module only; the tests, fuzzers and benchmarks are
# built by the targets that run them.
PROGRAMS := zorgaval-sim zorgaval-board zorgaval webfiles

build: packages build/CMakeCache.txt
	cmake --build --preset default -j $(JOBS) --target $(PROGRAMS)

# The programs, the module, the samples, the unit, the man pages and the
# completion under $(DESTDIR)$(PREFIX).
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install build --prefix "$(PREFIX)"

# A Debian package of the same files under /usr, in build/.
deb: build
	cd build && cpack -G DEB

# Everything the suite runs, then the suite.
build-all: packages build/CMakeCache.txt
	cmake --build --preset default -j $(JOBS)

test: build-all
	ctest --preset default -j $(JOBS)

# Only the simulator and the module: the demo needs nothing else.
demo: packages build/CMakeCache.txt
	cmake --build --preset default -j $(JOBS) --target zorgaval-sim zorgaval
	build/zorgaval-sim

# The kill test at full length: 50 kills, each a little later after the
# bump; prints the records lost and the files that failed integrity_check.
test-kill: build-all
	bash tests/kill/kill-test.sh build/zorgaval-sim build/tests/dbcheck 50

# The live board under load and attack at full size: 256 callers, floods,
# slow and silent callers, password guessing, faults, 25 kills, shutdown.
test-board-load: build-all
	python3 tests/board/load.py build/zorgaval-board build/zorgaval-sim build/tests/dbcheck

# The whole suite again, built with AddressSanitizer and UBSan.
test-asan: build-asan/CMakeCache.txt
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# Each fuzz target for SECONDS seconds, from its seed corpus. New inputs go
# to a scratch corpus; a finding is left in build-fuzz/findings/ and fails.
fuzz: build-fuzz/CMakeCache.txt
	cmake --build --preset fuzz -j $(JOBS) --target $(FUZZ_TARGETS)
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t build-fuzz/findings/$$t; \
	  echo "== $$t for $(SECONDS) s"; \
	  build-fuzz/fuzz/$$t -max_total_time=$(SECONDS) -print_final_stats=1 \
	    -artifact_prefix=build-fuzz/findings/$$t/ \
	    build-fuzz/corpus/$$t fuzz/corpus/$$t 2>build-fuzz/$$t.log \
	    || { tail -n 40 build-fuzz/$$t.log; exit 1; }; \
	  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|cov:' build-fuzz/$$t.log | tail -n 3; \
	done

# clang-format and clang-tidy over the tree; any difference or finding fails.
lint: packages build/CMakeCache.txt
	bash .ci/lint build

# The benchmarks beside their baselines, and a whole board-day, timed.
bench: build-all
	bench/run-bench.sh build

clean:
	rm -rf build build-*
