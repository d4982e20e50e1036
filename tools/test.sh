#!/usr/bin/env bash
# Installs what is missing, builds everything, checks the GitHub workflows
# against their schema and runs the three test layers: unit (native, ASan +
# UBSan), jvm (real OpenJDK) and windows (the .exe files under Wine). Fails when
# a workflow is invalid, when any test fails or when a layer ran no test.
# KORVANE_WINE64_ONLY=1 keeps Wine to its 64-bit loader, as on hosts that
# cannot execute i386 code (see tools/winerun).
set -uo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh || exit 1
tools/build.sh || exit 1
# Decide once how Wine starts; every test inherits the decision.
eval "$(tools/winerun --describe)" || exit 1
echo "== Wine: $KORVANE_WINE_LOADER ($KORVANE_WINE_WHY)"

logs=build/test-logs
rm -rf "$logs"
mkdir -p "$logs"
status=0

# The workflows (.github/workflows), validated by the pinned npm validator
# that tools/setup.sh installs.
validator=tools/workflow-lint/node_modules/.bin/action-validator
echo "== lint: GitHub workflows"
for workflow in .github/workflows/*.yml; do
  lint_log="$logs/lint-$(basename "$workflow" .yml).txt"
  if "$validator" "$workflow" >"$lint_log" 2>&1; then
    echo "   $workflow: valid"
  else
    cat "$lint_log"
    echo "lint: $workflow is not a valid workflow"
    status=1
  fi
done

# The gate that lists the tests not run and the skips inside the scripts, on
# made-up ctest runs as Windows and a forced-colour terminal write them.
echo "== gate: tools/check-not-run.sh"
tools/check-not-run-test.sh 2>&1 | tee "$logs/gate.txt"
[ "${PIPESTATUS[0]}" = 0 ] || status=1

# The release folder that the Windows workflow makes from its MSVC builds,
# made here by the same script from the mingw builds.
echo "== package: dist/ (tools/package.sh)"
if ! tools/package.sh >"$logs/package.txt" 2>&1; then
  cat "$logs/package.txt"
  echo "package: tools/package.sh failed"
  status=1
fi

skipped_tests() { # log: the names of the tests CTest lists as skipped
  sed -nE 's/^[[:space:]]+[0-9]+ - (.*) \(Skipped\)$/\1/p' "$1"
}
run_layer() { # preset label [pattern of the tests that may be not run on this host]
  local log="$logs/$1-$2.log" may_skip=${3:-} name
  echo "== test layer $2 ($1)"
  ctest --preset "$1" -L "^$2\$" 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" = 0 ] || status=1
  # What a script said about the build it ran.
  grep -hE '^Kestrune under test: ' "build/$1/Testing/Temporary/LastTest.log" 2>/dev/null \
    | sort -u | sed 's/^/   /' | tee -a "$log"
  if ! grep -qE '^[0-9]+% tests passed, 0 tests failed out of [1-9]' "$log"; then
    echo "test layer $2 ($1): no test ran or a test failed"
    status=1
  fi
  # Each test not run and each skip inside a script, with its reason; one that
  # is not expected under Wine fails the layer.
  tools/check-not-run.sh --expected-skips tests/windows/skips-expected-under-wine.txt \
    "$log" "build/$1" "$may_skip" | sed "s/^\([^ ]\)/test layer $2 ($1): \1/" | tee -a "$log"
  [ "${PIPESTATUS[0]}" = 0 ] || status=1
}
# Each host runs one build of Kestrune under Wine; the other build's scripts
# end as not run, with their reason. The real-JVM test needs a Windows JDK,
# which only Windows has (.github/workflows/windows.yml runs it).
real_jvm='^ostrad_test_real_jvm$'
if [ "$KORVANE_WINE_I386" = yes ]; then
  x64_may_skip="^kestrune_x64_|$real_jvm" x86_may_skip=''
else
  x64_may_skip="$real_jvm" x86_may_skip='^kestrune_test_kestrune_'
fi
run_layer native unit
run_layer native jvm
run_layer windows-x64 windows "$x64_may_skip"
run_layer windows-x86 windows "$x86_may_skip"

# The service under a flood of controls: a short run of the stress tool.
echo "== stress: Ostrad as a service, 12 cycles under a flood of interrogate controls"
tools/stress-service.sh --cycles 12 2>&1 | tee "$logs/stress-service.log"
[ "${PIPESTATUS[0]}" = 0 ] || { echo "stress: the service hung or was left running"; status=1; }

# CTest counts a skipped test among the passed ones: here it is "not run".
passed=0; failed=0; not_run=0; skips=0
for log in "$logs"/*.log; do
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of' "$log" | tail -1)
  [ -n "$line" ] || continue
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
  skipped=$(skipped_tests "$log" | wc -l)
  passed=$((passed + total - bad - skipped)); failed=$((failed + bad)); not_run=$((not_run + skipped))
  skips=$((skips + $(grep -c 'skipped here' "$log")))
done
if [ "$KORVANE_WINE_I386" = yes ]; then
  kestrune="Kestrune ran as the 32-bit Kestrune.exe ($KORVANE_WINE_WHY)"
else
  kestrune="$KORVANE_WINE_WHY: Kestrune's behaviour checked on its x86-64 build"
fi
echo "all layers: $passed passed, $failed failed, $not_run not run, $skips skipped inside scripts; $kestrune"
[ "$failed" = 0 ] || status=1
exit $status
