# The test scripts' common preamble, sourced by each: strict variables, a
# scratch directory `work` removed at the end (after the script's own
# `atExit`, if it defines one), a count of failures, skips that ctest shows
# as skipped, and `finish` to end with the status ctest reads.
set -u
work=$(mktemp -d "${TMPDIR:-/tmp}/zorgaval-test.XXXXXX")
failures=0
skips=0
atExit() { :; }
trap 'atExit; rm -rf "$work"' EXIT

fail() { echo "FAIL $*" >&2; failures=$((failures + 1)); }

# A part that cannot be tried here (it needs root, say): said, and counted,
# so that a run where nothing failed still reports the skip.
skip() { echo "skipped: $*"; skips=$((skips + 1)); }

# Every file under DIR with its SHA-256, to show that nothing changed.
hashes() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 sha256sum); }

# The end: 1 with any failure; else 77, the skip code the tests' ctest
# properties name, when a part was skipped; else 0.
finish() {
  if [ "$failures" != 0 ]; then
    echo "$failures failures" >&2
    exit 1
  fi
  [ "$skips" = 0 ] || exit 77
  exit 0
}
