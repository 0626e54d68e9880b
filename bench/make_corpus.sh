#!/usr/bin/env bash
# Builds the benchmark corpus from text that ships with this machine: package
# documentation, manual pages, C headers, a language's standard library, some
# minified JavaScript and MIME messages. Nothing in it was written for Corvexa.
#   make_corpus.sh DIR [MEGABYTES]
set -euo pipefail
out=${1:?usage: make_corpus.sh DIR [MEGABYTES]}
limit_mb=${2:-400}
limit=$((limit_mb * 1024 * 1024))

if [ -f "$out/.complete" ] && [ "$(cat "$out/.complete")" = "$limit_mb" ]; then
  exit 0
fi
rm -rf "$out"
mkdir -p "$out"
total=0

# copy_tree NAME SOURCE [find predicates...]: copies matching regular files,
# decompressing .gz, until the corpus reaches its size.
copy_tree() {
  local name=$1 src=$2
  shift 2
  [ -d "$src" ] || return 0
  while IFS= read -r -d '' f; do
    [ "$total" -lt "$limit" ] || return 0
    rel=${f#"$src"/}
    dest="$out/$name/$rel"
    mkdir -p "$(dirname "$dest")"
    case "$f" in
      *.gz) gzip -dc "$f" > "${dest%.gz}" 2>/dev/null || continue; dest=${dest%.gz} ;;
      *) cp "$f" "$dest" 2>/dev/null || continue ;;
    esac
    total=$((total + $(stat -c %s "$dest")))
  done < <(find "$src" -type f -size -16M "$@" -print0 2>/dev/null | sort -z)
}

# MIME messages and minified JavaScript first, so that a small corpus has them too.
copy_tree mime /usr/lib/python3.11/test/test_email/data -name 'msg_*.txt'
for py in /root/.pyenv/versions/*/lib/python3.*; do
  copy_tree "mime-$(basename "$py")" "$py/test/test_email/data" -name 'msg_*.txt'
done
copy_tree mime-gmime /usr/share/doc/gir1.2-gmime-3.0 -name '*.eml'
copy_tree js /usr/lib/node_modules -name '*.min.js'
copy_tree js-share /usr/share/javascript -name '*.js'
copy_tree doc /usr/share/doc
copy_tree man /usr/share/man
copy_tree include /usr/include
copy_tree python /usr/lib/python3.11 -name '*.py'
for py in /root/.pyenv/versions/*/lib/python3.*; do
  copy_tree "python-$(basename "$py")" "$py" \( -name '*.py' -o -name '*.txt' -o -name '*.rst' \)
done
copy_tree node /usr/lib/node_modules \( -name '*.js' -o -name '*.md' -o -name '*.json' \)

# Real folders hold text in more than one encoding: some of the copied
# documents are rewritten in place as ANSI (windows-1252, with a line of
# accented words halfway in, so that they are not also valid UTF-8) and as
# UTF-16 with a byte-order mark, little- and big-endian.
python3 - "$out" <<'PY'
import os, sys
root = sys.argv[1]
names = []
for top in ("doc", "man", "include"):
    for d, _, fs in os.walk(os.path.join(root, top)):
        names += [os.path.join(d, f) for f in fs]
names.sort()
accented = "Café crème, naïve façade, Straße – déjà vu: see www.exemple.fr/résumé\n"
for i, name in enumerate(names):
    kind = i % 20
    if kind not in (3, 7, 11, 15, 9):
        continue
    try:
        text = open(name, encoding="utf-8").read()
    except (UnicodeDecodeError, OSError):
        continue
    if kind == 9:
        data = b"\xfe\xff" + text.encode("utf-16-be", "replace")
    elif kind == 15:
        data = b"\xff\xfe" + text.encode("utf-16-le", "replace")
    else:
        half = text.find("\n", len(text) // 2) + 1
        text = text[:half] + accented + text[half:]
        data = text.encode("cp1252", "replace")
    with open(name, "wb") as f:
        f.write(data)
PY

echo "$limit_mb" > "$out/.complete"
echo "corpus: $(find "$out" -type f | wc -l) files, $(du -sm "$out" | cut -f1) MB in $out"
