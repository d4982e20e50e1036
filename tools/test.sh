#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the three test layers:
# unit (native, ASan + UBSan), jvm (real OpenJDK) and windows (the .exe files
# under Wine). Fails when any test fails or when a layer ran no test.
set -uo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh || exit 1
tools/build.sh || exit 1

logs=build/test-logs
mkdir -p "$logs"
status=0
run_layer() { # preset label
  local log="$logs/$1-$2.log"
  echo "== test layer $2 ($1)"
  ctest --preset "$1" -L "^$2\$" 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" = 0 ] || status=1
  if ! grep -qE '^[0-9]+% tests passed, 0 tests failed out of [1-9]' "$log"; then
    echo "test layer $2 ($1): no test ran or a test failed"
    status=1
  fi
}
run_layer native unit
run_layer native jvm
run_layer windows-x64 windows
run_layer windows-x86 windows

passed=0; failed=0
for log in "$logs"/*.log; do
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of' "$log" | tail -1)
  [ -n "$line" ] || continue
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad)); failed=$((failed + bad))
done
echo "all layers: $passed passed, $failed failed"
[ "$failed" = 0 ] || status=1
exit $status
