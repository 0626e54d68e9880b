#!/usr/bin/env bash
# Benchmarks of the document readers, each against a named peer in one run.
#   documents.sh BUILD_DIR
# E-mail: corvexa-scan with the message decoder on against the plain pass
# alone over a corpus of real and composed MIME messages.
# Office: corvexa-scan --word --excel over 50 documents against soffice
# --convert-to run once per file by a shell loop, and against one soffice call
# given all the files at once.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
scan="$root/$build/bin/corvexa-scan"
work="$here/out"
mkdir -p "$work"

secs() { date +%s.%N; }
# best of N wall-clock seconds of a command (output discarded)
best_of() {
  local n=$1; shift
  local best=""
  for _ in $(seq "$n"); do
    local t0 t1 t
    t0=$(secs); "$@" > /dev/null 2>&1 || true; t1=$(secs)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  printf '%.3f' "$best"
}
ratio() { echo "scale=2; $1 / $2" | bc -l; }

# --- e-mail -----------------------------------------------------------------
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
peer_loop() {
  local out="$work/office-peer"
  rm -rf "$out"
  for f in "${docs[@]}"; do "${lo[@]}" --convert-to "$txt" --outdir "$out" "$f"; done
  for f in "${books[@]}"; do "${lo[@]}" --convert-to "$csv" --outdir "$out" "$f"; done
}
peer_once() {
  local out="$work/office-peer"
  rm -rf "$out"
  "${lo[@]}" --convert-to "$txt" --outdir "$out" "${docs[@]}"
  "${lo[@]}" --convert-to "$csv" --outdir "$out" "${books[@]}"
}
oruns=${OFFICE_RUNS:-1}
"${lo[@]}" --convert-to "$txt" --outdir "$work/office-peer" "${docs[0]}" > /dev/null 2>&1 || true  # the peer's profile, made once
t_ours=$(best_of "$oruns" "$scan" --quiet --word --excel -- "${docs[@]}" "${books[@]}")
t_loop=$(best_of "$oruns" peer_loop)
t_once=$(best_of "$oruns" peer_once)
n_ours=$("$scan" --quiet --word --excel -- "${docs[@]}" "${books[@]}" | wc -l)
echo
echo "== office: ${#docs[@]} .docx + ${#books[@]} .xlsx, best of $oruns ($n_ours findings)"
printf '%-52s %8s s\n' "corvexa-scan --word --excel" "$t_ours"
printf '%-52s %8s s\n' "soffice --convert-to, once per file (shell loop)" "$t_loop"
printf '%-52s %8s s\n' "soffice --convert-to, all files in one call" "$t_once"
echo "corvexa-scan / per-file loop:  $(ratio "$t_ours" "$t_loop")x  (target <= 1.1)"
echo "per-file loop / one call:      $(ratio "$t_loop" "$t_once")x  (what a longer-lived office process would save)"
