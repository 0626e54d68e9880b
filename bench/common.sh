# What the bench scripts share, sourced at their start once they have set
# `build` (a build folder below the source tree, "build" when unset) or `bin`
# (the folder of the built programs): the folders below and best_of.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
bin=${bin:-$root/${build:-build}/bin}
scan="$bin/corvexa-scan"
work="$here/out"
mkdir -p "$work"

# best of N wall-clock seconds of a command (output discarded)
best_of() {
  local n=$1; shift
  local best=""
  for _ in $(seq "$n"); do
    local t0 t1
    t0=$(date +%s.%N)
    "$@" > /dev/null 2>&1 || true
    t1=$(date +%s.%N)
    local t; t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  printf '%.3f' "$best"
}
