#!/usr/bin/env bash
# PDF text: the library route against the converter route, and the converter
# route against the converter run alone, over one corpus of real PDFs.
#   pdf_run.sh BIN_DIR
set -euo pipefail
bin=${1:?usage: pdf_run.sh BIN_DIR}
. "$(dirname "$0")/common.sh"
corpus="$here/pdf-corpus"
count=${PDF_COUNT:-300}

# The corpus: package documentation on this machine (licences, read-me files,
# change logs), a few hundred files from 2 KB to 600 KB, each set as a PDF of
# 66 lines a page.
if [ ! -f "$corpus/.complete" ] || [ "$(cat "$corpus/.complete")" != "$count" ]; then
  rm -rf "$corpus"
  mkdir -p "$corpus/text" "$corpus/pdf"
  n=0
  while IFS= read -r -d '' f; do
    [ "$n" -lt "$count" ] || break
    case "$f" in
      *.gz) gzip -dc "$f" > "$corpus/text/$n.txt" 2>/dev/null || continue ;;
      *) cp "$f" "$corpus/text/$n.txt" 2>/dev/null || continue ;;
    esac
    n=$((n + 1))
  done < <(find /usr/share/doc /usr/share/common-licenses -type f \
             \( -name '*.txt' -o -name 'copyright' -o -name 'README*' -o -name 'changelog*.gz' \) \
             -size +2k -size -600k -print0 2>/dev/null | sort -z)
  find "$corpus/text" -type f | sort -V | "$bin/make_pdfs" "$corpus/pdf" > /dev/null
  rm -rf "$corpus/text"
  echo "$count" > "$corpus/.complete"
fi
find "$corpus/pdf" -name '*.pdf' | sort -V > "$work/pdfs.txt"
nfiles=$(wc -l < "$work/pdfs.txt")
bytes=$(xargs -d '\n' stat -c %s < "$work/pdfs.txt" | awk '{s+=$1} END {print s}')
pages=$(xargs -d '\n' -n1 pdfinfo < "$work/pdfs.txt" 2>/dev/null | awk '/^Pages:/ {s+=$2} END {print s}')
echo
echo "== PDF corpus: $nfiles documents, $pages pages, $((bytes / 1048576)) MB"

peer_out=$(mktemp)
trap 'rm -f "$peer_out"' EXIT
# The peer: pdftotext started once per document, as the converter route does.
peer() { xargs -d '\n' -I{} pdftotext -enc UTF-8 {} "$peer_out" < "$1"; }
ratio() { echo "scale=2; $1 / $2" | bc -l; }
runs=${RUNS:-3}

# compare LIST TITLE: the two routes and the converter alone over one list.
compare() {
  local list=$1 title=$2
  local t_lib t_conv t_peer n_lib n_conv
  t_lib=$(best_of "$runs" "$scan" --quiet --pdf pdfium --files-from "$list")
  t_conv=$(best_of "$runs" "$scan" --quiet --pdf xpdf --files-from "$list")
  t_peer=$(best_of "$runs" peer "$list")
  n_lib=$("$scan" --quiet --pdf pdfium --files-from "$list" | wc -l)
  n_conv=$("$scan" --quiet --pdf xpdf --files-from "$list" | wc -l)
  echo
  echo "== PDF text, $title, best of $runs (findings: library $n_lib, converter $n_conv)"
  printf '%-44s %8s s\n' "corvexa-scan --pdf pdfium (library)" "$t_lib"
  printf '%-44s %8s s\n' "corvexa-scan --pdf xpdf (converter)" "$t_conv"
  printf '%-44s %8s s\n' "pdftotext alone, one run per document" "$t_peer"
  echo "converter route / library route:  $(ratio "$t_conv" "$t_lib")x  (target >= 2)"
  echo "converter route / pdftotext alone: $(ratio "$t_conv" "$t_peer")x  (target <= 1.2)"
}

compare "$work/pdfs.txt" "all $nfiles documents"
small="$work/pdfs-small.txt"
while IFS= read -r f; do
  p=$(pdfinfo "$f" 2>/dev/null | awk '/^Pages:/ {print $2}')
  if [ "${p:-0}" -le 2 ]; then echo "$f"; fi
done < "$work/pdfs.txt" > "$small"
compare "$small" "the $(wc -l < "$small") documents of one or two pages"
