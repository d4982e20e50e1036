#!/usr/bin/env bash
# Benchmark of Kestrune's configuration rewrite: a configuration of a million
# lines (about 100 MB) rewritten, timed against a plain copy of the same file
# in the same run, and the peak memory at 10 MB and 100 MB (it must not grow
# with the file).
#
#   tools/bench-credential.sh
#
# Part 1 (always): the rewrite core (credential_tool/config_rewrite.cpp)
#   compiled natively with -O2 into a small driver, without the sanitizers of
#   the native test build, which would dominate both time and memory. This
#   measures the algorithm itself: whole lines, block reads, no per-line
#   allocation beyond the longest line.
# Part 2 (when WINEPREFIX names a running prefix and KESTRUNE_EXE the
#   program): the real Kestrune.exe under Wine, end to end, in a product
#   folder with the stand-in encrypt.bat; this includes the C runtime's text
#   mode, cmd.exe for encrypt.bat and four net commands (no services there),
#   and is compared with "cmd /c copy" of the same file under the same Wine.
set -euo pipefail
winerun=$(cd "$(dirname "$0")" && pwd)/winerun  # the loader this host can run
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/kestrune-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
TIME=/usr/bin/time
[ -x "$TIME" ] || { echo "bench: /usr/bin/time is missing (Debian package: time)"; exit 1; }

# generate FILE LINES: LINES lines of 100 bytes with CR LF, a few of them the keys.
generate() {
  python3 - "$1" "$2" <<'EOF'
import sys
path, lines = sys.argv[1], int(sys.argv[2])
with open(path, "wb") as f:
    block = []
    for i in range(lines):
        if i % 100000 == 1:
            line = b"userid=old-user"
        elif i % 100000 == 2:
            line = b"password=old-password"
        else:
            line = b"setting%07d=" % i
        block.append(line + b"v" * (98 - len(line)) + b"\r\n")
        if len(block) == 10000:
            f.write(b"".join(block))
            block = []
    f.write(b"".join(block))
EOF
}

# measure COMMAND...: prints "<seconds> <peak KB>" of the command, the best
# time of three runs (the machine is shared) and the largest peak.
measure() {
  local best_s="" peak_kb=0 s kb
  for _ in 1 2 3; do
    "$TIME" -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>&1
    read -r s kb < "$work/time.txt"
    if [ -z "$best_s" ] || awk -v a="$s" -v b="$best_s" 'BEGIN { exit !(a < b) }'; then best_s=$s; fi
    [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
  done
  echo "$best_s $peak_kb"
}

echo "== generating configurations (1,000,000 and 100,000 lines)"
generate "$work/big.properties" 1000000
generate "$work/small.properties" 100000
big_mb=$(( $(stat -c %s "$work/big.properties") / 1000000 ))
echo "big: ${big_mb} MB, 1000000 lines; small: $(( $(stat -c %s "$work/small.properties") / 1000000 )) MB"

echo "== part 1: native rewrite core (clang++ -O2)"
cat > "$work/driver.cpp" <<'EOF'
// rewrite IN OUT | copy IN OUT
#include "config_rewrite.h"
#include <cstdio>
#include <cstring>
int main(int argc, char** argv) {
  if (argc != 4) return 2;
  std::FILE* in = std::fopen(argv[2], "rb");
  std::FILE* out = std::fopen(argv[3], "wb");
  if (!in || !out) return 1;
  int status = 0;
  if (std::strcmp(argv[1], "rewrite") == 0) {
    status = rewrite_configuration(in, out, "admin", "ENC:secret") == RewriteResult::ok ? 0 : 1;
  } else {
    static char block[64 * 1024];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, in)) > 0)
      if (std::fwrite(block, 1, got, out) != got) status = 1;
  }
  std::fclose(in);
  if (std::fclose(out) != 0) status = 1;
  return status;
}
EOF
clang++ -std=c++17 -O2 -I"$root/credential_tool" "$work/driver.cpp" "$root/credential_tool/config_rewrite.cpp" -o "$work/driver"

"$work/driver" copy "$work/big.properties" "$work/warm.out"  # warm the page cache
rm -f "$work/warm.out"
read -r copy_s copy_kb < <(measure "$work/driver" copy "$work/big.properties" "$work/copy.out")
read -r cp_s cp_kb < <(measure cp "$work/big.properties" "$work/cp.out")
read -r big_s big_kb < <(measure "$work/driver" rewrite "$work/big.properties" "$work/big.out")
read -r small_s small_kb < <(measure "$work/driver" rewrite "$work/small.properties" "$work/small.out")
grep -c '^userid=admin' "$work/big.out" >/dev/null || { echo "bench: rewrite produced no userid line"; exit 1; }
rm -f "$work"/*.out
echo "plain copy (stdio, 64 KiB blocks): ${copy_s} s, peak ${copy_kb} KB"
echo "plain copy (cp):                   ${cp_s} s, peak ${cp_kb} KB"
echo "rewrite ${big_mb} MB:                    ${big_s} s, peak ${big_kb} KB"
echo "rewrite small (10 MB):             ${small_s} s, peak ${small_kb} KB"
awk -v r="$big_s" -v c="$copy_s" 'BEGIN { if (c > 0) printf "ratio rewrite / stdio copy: %.2f\n", r / c; else print "ratio: copy too fast to time" }'

if [ -n "${WINEPREFIX:-}" ] && [ -n "${KESTRUNE_EXE:-}" ] && [ -f "${KESTRUNE_EXE}" ]; then
  echo "== part 2: Kestrune.exe under Wine (prefix $WINEPREFIX)"
  export WINEDEBUG=-all
  run_product() { # CONFIG -> "<seconds> <peak KB>"
    local folder="$work/product"
    rm -rf "$folder"; mkdir -p "$folder/config"
    cp "$root/tests/windows/credential_tool/encrypt.bat" "$folder/"
    cp "$1" "$folder/config/server.properties"
    # Each run rewrites the previous run's output: the same size and lines.
    (cd "$folder" && measure "$winerun" "$KESTRUNE_EXE" admin secret)
  }
  "$winerun" cmd /c exit 0 >/dev/null 2>&1
  (cd "$work" && measure "$winerun" cmd /c copy /b big.properties copy.out) > "$work/wcopy.txt"
  read -r wcopy_s wcopy_kb < "$work/wcopy.txt"
  read -r wbig_s wbig_kb < <(run_product "$work/big.properties")
  grep -q $'^userid=admin\r$' "$work/product/config/server.properties" || { echo "bench: Kestrune did not rewrite"; exit 1; }
  read -r wsmall_s wsmall_kb < <(run_product "$work/small.properties")
  printf 'userid=old\r\npassword=old\r\n' > "$work/tiny.properties"
  read -r wtiny_s wtiny_kb < <(run_product "$work/tiny.properties")
  echo "wine cmd /c copy ${big_mb} MB:           ${wcopy_s} s"
  echo "Kestrune.exe, ${big_mb} MB config:       ${wbig_s} s, peak ${wbig_kb} KB (whole run: encrypt.bat and four net commands included)"
  echo "Kestrune.exe, 10 MB config:         ${wsmall_s} s, peak ${wsmall_kb} KB"
  echo "Kestrune.exe, 2-line config:       ${wtiny_s} s, peak ${wtiny_kb} KB (the fixed cost of a run)"
  awk -v r="$wbig_s" -v t="$wtiny_s" -v c="$wcopy_s" 'BEGIN { if (c > 0) printf "ratio under Wine: whole run / copy %.2f; rewrite share (run - fixed cost) / copy %.2f\n", r / c, (r - t) / c }'
else
  echo "== part 2 skipped: set WINEPREFIX (running prefix) and KESTRUNE_EXE to time Kestrune.exe under Wine"
fi
