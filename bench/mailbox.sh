#!/usr/bin/env bash
# Mailboxes: a large mbox (MBOX_MB, default 1024) read with --mailboxes,
# paired with the same messages as .eml files read with --eml, one thread
# each: peak memory (/usr/bin/time) and time per message. The mbox is the
# e-mail corpus's messages repeated; both runs find the same addresses per
# message.
#   mailbox.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
scan="$root/$build/bin/corvexa-scan"
work="$here/out"
mail="$here/mail-corpus"
mkdir -p "$work"
python3 "$here/make_mail.py" "$mail" "${MAIL_MB:-80}"
box="$work/bench.mbox"
mbox_mb=${MBOX_MB:-1024}
n_box=$(python3 "$here/make_mbox.py" "$mail" "$box" "$mbox_mb")
n_eml=$(find "$mail" -name '*.eml' | wc -l)
cat "$mail"/*.eml > /dev/null

# wall seconds, peak kB, findings and the bytes of the findings (UTF-8, a line
# each) of one run
measure() {
  local t0 t1 peak found
  t0=$(date +%s.%N)
  found=$( { /usr/bin/time -f '%M' -o "$work/mailbox.time" "$@" | wc -lc; } )
  t1=$(date +%s.%N)
  peak=$(tail -1 "$work/mailbox.time")
  echo "$(echo "$t1 - $t0" | bc -l) $peak $found"
}
read -r t_box m_box f_box b_box <<< "$(measure "$scan" --quiet -j1 --mailboxes -- "$box")"
read -r t_eml m_eml f_eml _ <<< "$(measure "$scan" --quiet -j1 --eml "$mail")"
per() { echo "scale=3; $1 * 1000 / $2" | bc -l; }
echo "== mailbox: $mbox_mb MB mbox of $n_box messages against $n_eml .eml files, one thread"
printf '%-36s %9s ms/message %7s MB peak %9s findings\n' "--mailboxes, one mbox" \
  "$(per "$t_box" "$n_box")" "$((m_box / 1024))" "$f_box"
printf '%-36s %9s ms/message %7s MB peak %9s findings\n' "--eml, the same messages as files" \
  "$(per "$t_eml" "$n_eml")" "$((m_eml / 1024))" "$f_eml"
echo "mbox / .eml time per message: $(echo "scale=2; ($t_box * $n_eml) / ($t_eml * $n_box)" | bc -l)x  (target <= 1)"
echo "mbox peak: $((m_box / 1024)) MB  (target < 100), of which the findings' own text is" \
  "$(((b_box - f_box) / 1048576)) MB (as UTF-8; the list keeps it and 2 bytes a finding)"
rm -f "$box"
