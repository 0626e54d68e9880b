#!/usr/bin/env bash
# Compressed files and archives: corvexa-scan -z against ugrep -z -o with the
# same three patterns over the same archives, one thread each, both writing
# their findings to a file (ugrep stops at the first match when its output is
# /dev/null); and -z against scanning the unpacked tree plus gzip -dc alone.
# Then -j 1 and -j 2 with -z --mailboxes must give byte-identical output.
#   archives.sh BUILD_DIR CORPUS_DIR WORK_DIR
set -euo pipefail
build=${1:-build}
corpus=${2:?corpus folder}
work=${3:?work folder}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
scan="$root/$build/bin/corvexa-scan"
runs=${RUNS:-3}
limit_mb=${ARCHIVE_MB:-64}

web='(https?://|www\.)[-a-zA-Z0-9@:%._\+~#=]{1,256}\.[a-zA-Z0-9()]{2,30}\b([-a-zA-Z0-9()@:%_\+.~#?&//=]*)'
mail='[a-zA-Z0-9_.+-]+@[a-zA-Z0-9-]+\.[a-zA-Z0-9-.]*[a-zA-Z0-9]+'
ftp='ftp://[a-zA-Z0-9.-]+(?:/[a-zA-Z0-9._/?=&+-]*)?'

echo
echo "== compressed files and archives (${limit_mb} MB of the corpus, best of $runs)"
if ! command -v ugrep > /dev/null; then
  echo "ugrep is not installed: skipped"
  exit 0
fi

arch="$work/archives"
rm -rf "$arch"
mkdir -p "$arch/tree" "$arch/packed"
# The tree: corpus files up to the size, in a stable order.
total=0
limit=$((limit_mb * 1024 * 1024))
while IFS= read -r f; do
  [ "$total" -lt "$limit" ] || break
  rel=${f#"$corpus"/}
  mkdir -p "$arch/tree/$(dirname "$rel")"
  cp "$f" "$arch/tree/$rel"
  total=$((total + $(stat -c %s "$f")))
done < <(find "$corpus" -type f ! -name .complete | LC_ALL=C sort)
tar -C "$arch" -czf "$arch/packed/tree.tar.gz" tree
python3 - "$arch" << 'PY'
import os, sys, zipfile
root = sys.argv[1]
with zipfile.ZipFile(os.path.join(root, "packed", "tree.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    for folder, _, names in sorted(os.walk(os.path.join(root, "tree"))):
        for n in sorted(names):
            p = os.path.join(folder, n)
            z.write(p, os.path.relpath(p, root))
PY
echo "tree $((total / 1048576)) MB; tree.tar.gz $(($(stat -c %s "$arch/packed/tree.tar.gz") / 1048576)) MB, tree.zip $(($(stat -c %s "$arch/packed/tree.zip") / 1048576)) MB"

# best of N wall-clock seconds of a command whose output goes to a file
best_to_file() {
  local n=$1 out=$2; shift 2
  local best=""
  for _ in $(seq "$n"); do
    local t0 t1 t
    t0=$(date +%s.%N)
    "$@" > "$out" 2> /dev/null || true
    t1=$(date +%s.%N)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  printf '%.3f' "$best"
}
ratio() { echo "scale=2; $1 / $2" | bc -l; }

# corvexa-scan takes single files through a list.
ours_z() {
  printf '%s\n' "$@" > "$arch/list.txt"
  "$scan" --quiet -j1 --pdf plain -z --files-from "$arch/list.txt"
}
theirs_z() { ugrep -P -z -o -i -J1 -e "$web" -e "$mail" -e "$ftp" "$@"; }
packed=("$arch/packed/tree.tar.gz" "$arch/packed/tree.zip")
t_ours=$(best_to_file "$runs" "$arch/ours.txt" ours_z "${packed[@]}")
t_ug=$(best_to_file "$runs" "$arch/ugrep.txt" theirs_z "${packed[@]}")
t_ours_tgz=$(best_to_file "$runs" "$arch/ours-tgz.txt" ours_z "$arch/packed/tree.tar.gz")
t_tree=$(best_to_file "$runs" "$arch/tree.txt" "$scan" --quiet -j1 --pdf plain "$arch/tree")
t_gz=$(best_to_file "$runs" "$arch/gzip.tar" gzip -dc "$arch/packed/tree.tar.gz")
t_floor=$(echo "$t_tree + $t_gz" | bc -l)

echo "findings: corvexa-scan -z $(wc -l < "$arch/ours.txt"), ugrep -z -o $(wc -l < "$arch/ugrep.txt")"
echo "corvexa-scan -z: ${t_ours} s, ugrep -z -o: ${t_ug} s (tar.gz and zip, one thread each)"
echo "ugrep -z -o / corvexa-scan -z:                       $(ratio "$t_ug" "$t_ours")x  (target > 1)"
echo "corvexa-scan -z tree.tar.gz / (tree + gzip -dc):     $(ratio "$t_ours_tgz" "$t_floor")x  (target <= 1.3; ${t_ours_tgz} s against ${t_tree} s + ${t_gz} s)"

# -j 1 and -j 2 give the same bytes with archives and mailboxes read.
mixed="$arch/mixed"
mkdir -p "$mixed"
cp "${packed[@]}" "$mixed/"
find "$corpus" -type f \( -name '*.eml' -o -name '*.mbox' \) | LC_ALL=C sort | head -200 |
  while IFS= read -r m; do
    printf 'From bench@example.org Mon Jan  1 00:00:00 2024\n'
    sed 's/^From />From /' "$m"
    printf '\n'
  done > "$mixed/Inbox.mbox"
"$scan" --quiet -j1 -z --mailboxes -H -n "$mixed" > "$arch/j1.txt"
"$scan" --quiet -j2 -z --mailboxes -H -n "$mixed" > "$arch/j2.txt"
if cmp -s "$arch/j1.txt" "$arch/j2.txt"; then
  echo "-j 1 and -j 2 with -z --mailboxes: byte-identical ($(wc -l < "$arch/j1.txt") lines)"
else
  echo "-j 1 and -j 2 with -z --mailboxes: DIFFERENT (see $arch/j1.txt and $arch/j2.txt)"
  exit 1
fi
