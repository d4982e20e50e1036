#!/usr/bin/env bash
# Runs tools/check-not-run.sh on made-up ctest runs, each as a Windows host or
# a forced-colour terminal leaves it: script_a is not run ("no JDK here"),
# script_b skipped one subtest. Prints each case that went wrong; exits 1 then.
set -uo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
esc=$(printf '\033')

made_up_run() { # folder line_end colour skipped_count
  local dir=$1 end=$2 on=${3:+$esc[0;34m} off=${3:+$esc[0;0m}
  mkdir -p "$dir/Testing/Temporary"
  printf '%s\n' "1/2 Test #1: script_a ....***Skipped   0.01 sec" "2/2 Test #2: script_b ....   Passed    0.10 sec" \
    "The following tests did not run:" "$on	  1 - script_a (Skipped)" "$off" >"$dir/output.txt"
  printf "%s$end\n" "1/2 Test: script_a" "Output:" "${on}NOT RUN: no JDK here$off" "<end of output>" \
    "2/2 Test: script_b" "Output:" "${on}SKIPPED: B.test_row (code_page='1251'): not on this host$off" \
    "OK (skipped=$4)" "<end of output>" >"$dir/Testing/Temporary/LastTest.log"
}
printf '# why\n\n^script_b: B\\.test_row .*: not on this host$\n' >"$work/expected.txt"

failures=0
case_() { # name exit text: check-not-run.sh exits so, printing text, on a run made up with
  # line_end colour skipped_count failed_log_newer, given list_of_expected_skips allowed
  local name=$1 want=$2 text=$3 dir="$work/$1" got args=()
  made_up_run "$dir" "$4" "$5" "$6"
  [ -z "$7" ] || { echo "1:script_a" >"$dir/Testing/Temporary/LastTestsFailed.log"
    touch -d '+1 minute' "$dir/Testing/Temporary/LastTestsFailed.log"; }
  [ -z "$8" ] || args=(--expected-skips "$8")
  got=$(tools/check-not-run.sh "${args[@]}" "$dir/output.txt" "$dir" "$9" 2>&1)
  if [ $? != "$want" ] || ! grep -qF -- "$text" <<<"$got"; then
    printf 'case "%s": wanted exit %s and "%s", got:\n%s\n' "$name" "$want" "$text" "$got"
    failures=$((failures + 1))
  fi
}
list=$work/expected.txt allowed='^script_a$'
case_ crlf-log 0 "script_a (no JDK here)" $'\r' '' 1 '' "$list" "$allowed"
case_ failed-log-newer 0 "script_a (no JDK here)" '' '' 1 yes "$list" "$allowed"
case_ colours 1 "script_a did not run, but must run on this host (no JDK here)" '' yes 1 '' "$list" ''
case_ expected-skip 0 "as expected: script_b: B.test_row (code_page='1251'): not on this host" '' '' 1 '' "$list" "$allowed"
case_ unexpected-skip 1 "B.test_row (code_page='1251'): not on this host: skipped here, but not expected" \
  $'\r' yes 1 '' '' "$allowed"
case_ skip-without-reason 1 "script_b skipped 2 tests, but listed 1" '' '' 2 '' "$list" "$allowed"
echo "check-not-run: $((6 - failures)) of 6 cases as wanted"
[ "$failures" = 0 ]
