#!/usr/bin/env bash
# Makes the Debian package from the built tree (no compiling: CPack runs the
# install rules), checks its control fields and its file list with dpkg-deb,
# lints it, unpacks it into a temporary root and runs the programs from there.
# Usage: check_deb.sh BUILD_DIR VERSION
#
# Every pipeline's reader reads to the end (no grep -q, head or awk exit
# after a producer): with pipefail, a producer cut off early would fail it.
set -euo pipefail
build=$1
version=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

SECONDS=0
cpack --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 \
  || { cat "$tmp/cpack.log"; fail "cpack"; }
echo "cpack took ${SECONDS}s"
debs=("$tmp"/out/*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one package, got: ${debs[*]}"
deb=${debs[0]}
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "corvexa_${version}-1_${arch}.deb" ] || fail "package file name $(basename "$deb")"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
dpkg-deb -f "$deb"
[ "$(field Package)" = corvexa ] || fail "Package"
[ "$(field Version)" = "${version}-1" ] || fail "Version $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture"
has() { # has FIELD PACKAGE: PACKAGE is one of the field's entries (or alternatives)
  field "$1" | tr ',|' '\n\n' | sed 's/^ *//; s/ .*//' | grep -x -- "$2" >/dev/null
}
for p in poppler-utils libpoppler-glib8 libreoffice-writer libreoffice-calc python3-uno; do
  has Recommends "$p" || fail "Recommends lacks $p"
done

# Unpacked, every file lies under /usr and belongs to root.
dpkg-deb -c "$deb" >"$tmp/list"
cat "$tmp/list"
[ -z "$(awk '$2 != "root/root"' "$tmp/list")" ] || fail "files not owned by root"
[ -z "$(awk '$6 != "./" && substr($6, 1, 6) != "./usr/"' "$tmp/list")" ] || fail "files outside /usr"
for f in bin/corvexa bin/corvexa-scan libexec/corvexa/corvexa libexec/corvexa/corvexa-scan \
         libexec/corvexa/license.txt libexec/corvexa/Languages/German.lang.txt \
         share/applications/example.kelmare.Corvexa.desktop \
         share/metainfo/example.kelmare.Corvexa.metainfo.xml \
         share/icons/hicolor/scalable/apps/example.kelmare.Corvexa.svg \
         share/man/man1/corvexa.1.gz share/man/man1/corvexa-scan.1.gz \
         share/doc/corvexa/copyright share/doc/corvexa/changelog.Debian.gz \
         share/bash-completion/completions/corvexa-scan share/zsh/vendor-completions/_corvexa-scan \
         share/fish/vendor_completions.d/corvexa-scan.fish \
         share/lintian/overrides/corvexa; do
  awk '{print $6}' "$tmp/list" | grep -x -- "\./usr/$f" >/dev/null || fail "package lacks /usr/$f"
done

root=$tmp/root
dpkg-deb -x "$deb" "$root"
p=$root/usr

# Depends names the package of every library the programs link against
# (the loader's search gives the path, dpkg the package; with /usr merged, the
# package may list the library under the other spelling of its folder).
needed=()
for exe in "$p/libexec/corvexa/corvexa" "$p/libexec/corvexa/corvexa-scan"; do
  dynamic=$(readelf -d "$exe")
  linked=$(ldd "$exe")
  case $dynamic in *RPATH* | *RUNPATH*) fail "$exe carries an RPATH" ;; esac
  for lib in $(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dynamic"); do
    # "name => path (address)", or for the loader "path (address)".
    path=$(awk -v l="$lib" '$1 == l && !found {print $3; found = 1}
      $1 ~ /^\// && !found {n = split($1, part, "/"); if (part[n] == l) {print $1; found = 1}}' <<<"$linked")
    [ -n "$path" ] || fail "$lib of $exe not found"
    needed+=("$path")
  done
done
mapfile -t needed < <(printf '%s\n' "${needed[@]}" | sort -u)
queries=()
for path in "${needed[@]}"; do
  other=${path#/usr}
  [ "$other" = "$path" ] && other=/usr$path
  queries+=("$path" "$other")
done
owners=$(dpkg -S "${queries[@]}" 2>/dev/null || true)
for path in "${needed[@]}"; do
  other=${path#/usr}
  [ "$other" = "$path" ] && other=/usr$path
  owner=$(awk -v a="$path" -v b="$other" '($2 == a || $2 == b) && !found {sub(/:.*/, "", $1); print $1; found = 1}' <<<"$owners")
  [ -n "$owner" ] || fail "no package owns $path"
  has Depends "$owner" || fail "Depends lacks $owner (for $path)"
  echo "Depends names $owner for $path"
done

# The Debian changelog: compressed without a name or time stamp, this version.
gz=$p/share/doc/corvexa/changelog.Debian.gz
[ "$(od -An -tx1 -j3 -N5 "$gz" | tr -d ' ')" = 0000000000 ] || fail "changelog.Debian.gz has a name or time stamp"
entry=$(gzip -dc "$gz")
[ "${entry%%$'\n'*}" = "corvexa (${version}-1) unstable; urgency=medium" ] || fail "changelog entry"
# The copyright file carries the licence text, line for line.
while IFS= read -r line; do
  line=${line%$'\r'}
  [ -z "$line" ] && continue
  grep -qxF -- " $line" "$p/share/doc/corvexa/copyright" || fail "copyright lacks: $line"
done <"$(dirname "$0")/../../resources/license.txt"

# Lint: errors fail, warnings are shown.
SECONDS=0
command -v lintian >/dev/null || fail "lintian is not installed (scripts/packages.txt)"
status=0
lint=$(lintian --fail-on error "$deb" 2>&1) || status=$?
grep -v 'running with root privileges' <<<"$lint" || true
[ "$status" -eq 0 ] || fail "lintian reports an error (status $status)"
echo "lintian took ${SECONDS}s"

# The unpacked programs, through their links, on a fixture.
[ "$("$p/bin/corvexa-scan" --version)" = "corvexa-scan $version" ] || fail "corvexa-scan --version"
[ "$("$p/bin/corvexa" --version)" = "Corvexa $version" ] || fail "corvexa --version"
mkdir -p "$tmp/in"
printf 'see https://www.example.com/a and bob@example.org\nftp://ftp.example.net/x\n' >"$tmp/in/a.txt"
out=$("$p/bin/corvexa-scan" --quiet "$tmp/in") || fail "corvexa-scan status $?"
[ "$out" = $'https://www.example.com/a\nbob@example.org\nftp://ftp.example.net/x' ] \
  || fail "corvexa-scan printed: $out"
echo "package check passed"
