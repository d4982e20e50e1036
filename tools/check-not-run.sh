#!/usr/bin/env bash
# check-not-run.sh CTEST_OUTPUT BUILD_DIR [ALLOWED]
# CTest counts a test that reports itself not run (exit code 77) among the
# passed ones and exits 0. This lists each such test of a ctest run, from the
# run's output CTEST_OUTPUT, with the reason its script printed ("NOT RUN: ..."
# in BUILD_DIR's LastTest log), and fails when one of them does not match the
# extended regular expression ALLOWED (none may be not run without it).
set -uo pipefail
output=$1 build=$2 allowed=${3:-}
last_test_log=$(ls -t "$build"/Testing/Temporary/LastTest*.log 2>/dev/null | head -1)

reason_of() { # test name: the reason its script printed, if any
  [ -n "$last_test_log" ] || return 0
  awk -v test="$1" '
    /^[0-9]+\/[0-9]+ Test: / { sub(/^[0-9]+\/[0-9]+ Test: /, ""); current = $0; next }
    current == test && /^NOT RUN: / { sub(/^NOT RUN: /, ""); print; exit }
  ' "$last_test_log" | tr -d '\r'
}

status=0
while IFS= read -r name; do
  reason=$(reason_of "$name")
  if [ -n "$allowed" ] && grep -qE "$allowed" <<<"$name"; then
    echo "   not run here, as expected: $name (${reason:-no reason printed})"
  else
    echo "$name did not run, but must run on this host (${reason:-no reason printed})"
    status=1
  fi
done < <(tr -d '\r' <"$output" | sed -nE 's/^[[:space:]]+[0-9]+ - (.*) \(Skipped\)$/\1/p')
exit $status
