#!/usr/bin/env bash
# Walks that end and memory that stays bounded, each against a named peer:
#   hardening.sh BUILD_DIR
# - a walk of / with a mask that matches nothing, against find / -name '*.zzz';
# - peak memory (maximum resident set) reading a 3 GB sparse file (one line of
#   NUL bytes) and a 1 GiB line of words, in both reading modes, against the
#   size of the file.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
scan="$root/$build/bin/corvexa-scan"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds() {  # wall-clock seconds of a command, output discarded
  local t0 t1
  t0=$(date +%s.%N)
  "$@" > /dev/null 2>&1 || true
  t1=$(date +%s.%N)
  printf '%.2f' "$(echo "$t1 - $t0" | bc -l)"
}

echo "== walk of / with a mask that matches nothing (best of 3)"
find / -name '*.zzz' > /dev/null 2>&1 || true  # warm the inode cache
best_find="" best_scan=""
for _ in 1 2 3; do
  f=$(seconds find / -name '*.zzz')
  s=$(seconds "$scan" --quiet --mask '*.zzz' /)
  if [ -z "$best_find" ] || [ "$(echo "$f < $best_find" | bc -l)" = 1 ]; then best_find=$f; fi
  if [ -z "$best_scan" ] || [ "$(echo "$s < $best_scan" | bc -l)" = 1 ]; then best_scan=$s; fi
done
printf '%-46s %8s s\n' "find / -name '*.zzz'" "$best_find"
printf '%-46s %8s s\n' "corvexa-scan --mask '*.zzz' /" "$best_scan"
echo "corvexa-scan / find: $(echo "scale=2; $best_scan / $best_find" | bc -l)x  (find also lists /proc and /sys, which the walk does not enter)"

echo
echo "== peak memory of one long line"
truncate -s 3G "$work/sparse.txt"
{ yes 'lorem ipsum dolor sit amet, consectetur' | tr '\n' ' ' | head -c 1073741800 || true; printf ' www.end.example.com\n'; } > "$work/line.txt"
for f in sparse.txt line.txt; do
  size_kb=$(( $(stat -c %s "$work/$f") / 1024 ))
  for mode in "" "--memory-stream"; do
    rss=$( { /usr/bin/time -f '%M' "$scan" --quiet $mode -- "$work/$f" > /dev/null; } 2>&1 | tail -1)
    printf '%-12s %-16s maxrss %9s KB  (file %9s KB)\n' "$f" "${mode:-file stream}" "$rss" "$size_kb"
  done
done
