#!/usr/bin/env bash
# check-not-run.sh [--expected-skips LIST] CTEST_OUTPUT BUILD_DIR [ALLOWED]
# CTest counts a test that reports itself not run (exit code 77) among the
# passed ones and exits 0, and a script that skipped some of its tests passes
# too. From a ctest run's output CTEST_OUTPUT and BUILD_DIR's
# Testing/Temporary/LastTest.log this lists
# - each test not run, with the reason its script printed ("NOT RUN: ..."), and
#   fails when its name does not match the extended regular expression ALLOWED
#   (none may be not run without it);
# - each test or subtest a script skipped ("SKIPPED: <test>: <reason>", see
#   tests/windows/winetest.py) as "<CTest test>: <test>: <reason>", and fails
#   when no extended regular expression of LIST (one a line, # comments)
#   matches it, or when a script skipped more than it listed.
# Both files are read without carriage returns (CTest writes the log in text
# mode: CRLF on Windows) and colour sequences (a forced-colour terminal).
set -uo pipefail
expected_skips=''
if [ "${1:-}" = --expected-skips ]; then
  expected_skips=$2
  shift 2
fi
output=$1 build=$2 allowed=${3:-}

plain() { # file: its text without carriage returns and ANSI CSI sequences
  [ -f "$1" ] || return 0
  LC_ALL=C sed -E "s/$(printf '\r')//g; s#$(printf '\033')\[[0-?]*[ -/]*[@-~]##g" "$1"
}

# What each test's script printed: "reason|skip|skipped <tab> test <tab> text".
records=$(plain "$build/Testing/Temporary/LastTest.log" | awk '
  /^[0-9]+\/[0-9]+ Test: / { sub(/^[0-9]+\/[0-9]+ Test: /, ""); test = $0; next }
  test == "" { next }
  /^NOT RUN: / { sub(/^NOT RUN: /, ""); print "reason\t" test "\t" $0 }
  /^SKIPPED: / { sub(/^SKIPPED: /, ""); print "skip\t" test "\t" $0 }
  /^(OK|FAILED) \(.*skipped=[0-9]+/ {
    match($0, /skipped=[0-9]+/); print "skipped\t" test "\t" substr($0, RSTART + 8, RLENGTH - 8)
  }')

status=0
while IFS= read -r name; do
  reason=$(awk -F'\t' -v test="$name" '$1 == "reason" && $2 == test { print $3; exit }' <<<"$records")
  if [ -n "$allowed" ] && grep -qE "$allowed" <<<"$name"; then
    echo "   not run here, as expected: $name (${reason:-no reason printed})"
  else
    echo "$name did not run, but must run on this host (${reason:-no reason printed})"
    status=1
  fi
done < <(plain "$output" | sed -nE 's/^[[:space:]]+[0-9]+ - (.*) \(Skipped\)$/\1/p')

while IFS=$'\t' read -r kind name text; do
  if [ "$kind" = skip ]; then
    if grep -qE -f <(grep -vE '^[[:space:]]*(#|$)' "${expected_skips:-/dev/null}") <<<"$name: $text"; then
      echo "   skipped here, as expected: $name: $text"
    else
      echo "$name: $text: skipped here, but not expected (${expected_skips:-no list of expected skips given})"
      status=1
    fi
  elif [ "$kind" = skipped ]; then
    listed=$(awk -F'\t' -v test="$name" '$1 == "skip" && $2 == test' <<<"$records" | wc -l)
    if [ "$text" -gt "$listed" ]; then
      echo "$name skipped $text tests, but listed $listed with their reason"
      status=1
    fi
  fi
done <<<"$records"
exit $status
