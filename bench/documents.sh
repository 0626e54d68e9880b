#!/usr/bin/env bash
# Benchmarks of the document readers, each against a named peer in one run.
#   documents.sh BUILD_DIR
# E-mail: corvexa-scan with the message decoder on against the plain pass
# alone over a corpus of real and composed MIME messages.
# Office: corvexa-scan --word --excel over 50 documents (one running office
# suite for the scan) against the same scan with a start of the suite per
# document (CORVEXA_OFFICE_PER_FILE=1, how it was read before), run in pairs,
# and against one soffice --convert-to call given all the files at once.
# First document: a scan of one .docx with the running suite against the same
# scan with a start of the suite of its own, in FIRST_PAIRS (5) pairs whose
# order alternates; the median of the pairs' ratios. FIRST_ONLY=1 runs only
# that part.
set -euo pipefail
build=${1:-build}
. "$(dirname "$0")/common.sh"

secs() { date +%s.%N; }
ratio() { echo "scale=2; $1 / $2" | bc -l; }

# --- e-mail -----------------------------------------------------------------
if [ "${FIRST_ONLY:-0}" = 0 ]; then
mail="$here/mail-corpus"
python3 "$here/make_mail.py" "$mail" "${MAIL_MB:-80}"
runs=${RUNS:-3}
find "$mail" -name '*.eml' > "$work/mail-files.txt"
mbytes=$(du -sm "$mail" | cut -f1)
cat "$mail"/*.eml > /dev/null   # warm the page cache
t_plain=$(best_of "$runs" "$scan" --quiet --files-from "$work/mail-files.txt")
t_eml=$(best_of "$runs" "$scan" --quiet --eml --files-from "$work/mail-files.txt")
n_plain=$("$scan" --quiet --files-from "$work/mail-files.txt" | wc -l)
n_eml=$("$scan" --quiet --eml --files-from "$work/mail-files.txt" | wc -l)
echo
echo "== e-mail: $(wc -l < "$work/mail-files.txt") messages, $mbytes MB, best of $runs"
printf '%-44s %8s s  %7s findings\n' "corvexa-scan (plain pass only)" "$t_plain" "$n_plain"
printf '%-44s %8s s  %7s findings\n' "corvexa-scan --eml (decoded + plain pass)" "$t_eml" "$n_eml"
echo "--eml / plain pass:  $(ratio "$t_eml" "$t_plain")x  (target <= 3)"
fi

# --- office -------------------------------------------------------------------
soffice=$(command -v soffice || true)
[ -n "$soffice" ] || [ ! -x /usr/lib/libreoffice/program/soffice ] || soffice=/usr/lib/libreoffice/program/soffice
if [ -z "$soffice" ]; then
  echo; echo "== office: skipped, LibreOffice (soffice) is not installed"; exit 0
fi
office="$here/office-corpus"
count=${OFFICE_FILES:-50}
profile="$work/office-profile"
lo=("$soffice" "-env:UserInstallation=file://$profile" --headless --norestore)
if [ ! -f "$office/.complete" ] || [ "$(cat "$office/.complete")" != "$count" ]; then
  rm -rf "$office"
  python3 "$here/make_office.py" "$office/src" "$count"
  "${lo[@]}" --convert-to docx --outdir "$office" "$office"/src/*.fodt > /dev/null 2>&1
  "${lo[@]}" --convert-to xlsx --outdir "$office" "$office"/src/*.fods > /dev/null 2>&1
  echo "$count" > "$office/.complete"
fi
docs=("$office"/*.docx)
books=("$office"/*.xlsx)
txt='txt:Text (encoded):UTF8'
csv='csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false,false,-1'
peer_once() {
  local out="$work/office-peer"
  rm -rf "$out"
  "${lo[@]}" --convert-to "$txt" --outdir "$out" "${docs[@]}"
  "${lo[@]}" --convert-to "$csv" --outdir "$out" "${books[@]}"
}
oruns=${OFFICE_RUNS:-1}
"${lo[@]}" --convert-to "$txt" --outdir "$work/office-peer" "${docs[0]}" > /dev/null 2>&1 || true  # the peer's profile, made once
ours() { "$scan" --quiet --word --excel -- "${docs[@]}" "${books[@]}"; }
per_file() { CORVEXA_OFFICE_PER_FILE=1 ours; }
load() { cut -d' ' -f1 /proc/loadavg; }
median() { sort -n | awk '{v[NR]=$1} END {if (NR%2) print v[(NR+1)/2]; else printf "%.3f\n", (v[NR/2]+v[NR/2+1])/2}'; }

# The first document: what a scan of one document waits for. Each pair runs
# both ways back to back (the order alternates), so a change in the machine's
# load falls on both; each run's findings go to a file of its own.
first_run() {  # first_run WAY N -> seconds
  local way=$1 n=$2 t0 t1
  t0=$(secs)
  if [ "$way" = bridge ]; then
    "$scan" --quiet --word -- "${docs[0]}" > "$work/first-$way-$n.txt" 2>&1 || true
  else
    CORVEXA_OFFICE_PER_FILE=1 "$scan" --quiet --word -- "${docs[0]}" > "$work/first-$way-$n.txt" 2>&1 || true
  fi
  t1=$(secs)
  printf '%.3f' "$(echo "$t1 - $t0" | bc -l)"
}
pairs=${FIRST_PAIRS:-5}
: > "$work/first-pairs.txt"
echo
echo "== office, first document: one .docx, $pairs pairs (running suite / a start of its own)"
printf '%-5s %10s %10s %7s %6s\n' pair "suite s" "own s" ratio load
for n in $(seq "$pairs"); do
  l=$(load)
  if [ $((n % 2)) = 1 ]; then
    tb=$(first_run bridge "$n"); tp=$(first_run per-file "$n")
  else
    tp=$(first_run per-file "$n"); tb=$(first_run bridge "$n")
  fi
  r=$(echo "scale=3; $tb / $tp" | bc -l)
  echo "$n $tb $tp $r $l" >> "$work/first-pairs.txt"
  printf '%-5s %10s %10s %7s %6s\n' "$n" "$tb" "$tp" "$r" "$l"
done
same=yes
for n in $(seq "$pairs"); do
  cmp -s "$work/first-bridge-$n.txt" "$work/first-per-file-1.txt" || same=no
  cmp -s "$work/first-per-file-$n.txt" "$work/first-per-file-1.txt" || same=no
done
echo "median: suite $(cut -d' ' -f2 "$work/first-pairs.txt" | median) s, own $(cut -d' ' -f3 "$work/first-pairs.txt" | median) s, load now $(load)"
echo "first document, running suite / own start: $(cut -d' ' -f4 "$work/first-pairs.txt" | median)x median of pairs  (target <= 1; the same findings: $same)"
[ "${FIRST_ONLY:-0}" = 0 ] || exit 0

# Paired: each run of ours next to a run of the peers, so a change in the
# machine's load falls on both.
t_ours="" t_per="" t_once=""
best() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
for _ in $(seq "$oruns"); do
  t_ours=$(best "$t_ours" "$(best_of 1 ours)")
  t_per=$(best "$t_per" "$(best_of 1 per_file)")
  t_once=$(best "$t_once" "$(best_of 1 peer_once)")
done
n_ours=$(ours | sort | md5sum | cut -c1-12)
n_per=$(per_file | sort | md5sum | cut -c1-12)
echo
echo "== office: ${#docs[@]} .docx + ${#books[@]} .xlsx, best of $oruns, paired"
printf '%-56s %8s s\n' "corvexa-scan --word --excel (one running suite)" "$t_ours"
printf '%-56s %8s s\n' "corvexa-scan, a start of the suite per document" "$t_per"
printf '%-56s %8s s\n' "soffice --convert-to, all files in one call" "$t_once"
echo "findings: running suite $n_ours, per document $n_per (the same when equal)"
echo "per document / running suite:  $(ratio "$t_per" "$t_ours")x  (target >= 6)"
echo "running suite / one call:      $(ratio "$t_ours" "$t_once")x  (target <= 1.5)"
