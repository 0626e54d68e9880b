#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR, stripped as packages are,
# validates the desktop entry and the AppStream metainfo, and runs the
# installed programs from there.
# Usage: check_install.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
prefix=/usr
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$root" cmake --install "$build" --prefix "$prefix" --strip >"$root.log" 2>&1 \
  || { cat "$root.log"; rm -f "$root.log"; fail "cmake --install"; }
rm -f "$root.log"
p=$root$prefix
echo "Installed tree:"; (cd "$root" && find . -mindepth 1 | sort | sed 's/^/  /')

for f in bin/corvexa bin/corvexa-scan libexec/corvexa/corvexa libexec/corvexa/corvexa-scan \
         libexec/corvexa/Languages/German.lang.txt libexec/corvexa/Languages/LanguageCodes.csv \
         share/applications/example.kelmare.Corvexa.desktop \
         share/metainfo/example.kelmare.Corvexa.metainfo.xml \
         share/icons/hicolor/scalable/apps/example.kelmare.Corvexa.svg \
         share/man/man1/corvexa-scan.1 share/bash-completion/completions/corvexa-scan \
         share/zsh/vendor-completions/_corvexa-scan share/fish/vendor_completions.d/corvexa-scan.fish; do
  [ -e "$p/$f" ] || fail "missing $prefix/$f"
done
# The links in bin are relative, so the tree works wherever DESTDIR put it.
[ "$(readlink "$p/bin/corvexa-scan")" = ../libexec/corvexa/corvexa-scan ] || fail "bin/corvexa-scan link"

desktop-file-validate "$p/share/applications/example.kelmare.Corvexa.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$p/share/metainfo/example.kelmare.Corvexa.metainfo.xml" || fail "metainfo"
grep -q '<release version="[0-9]' "$p/share/metainfo/example.kelmare.Corvexa.metainfo.xml" || fail "release version"
if command -v man >/dev/null; then
  MANWIDTH=80 man -l "$p/share/man/man1/corvexa-scan.1" 2>&1 | grep -q -- '--files-from LIST' || fail "man page"
fi

bash -n "$p/share/bash-completion/completions/corvexa-scan" || fail "bash completion"

# The installed scanner, called through its link, on a fixture.
work=$root/work
mkdir -p "$work/in"
printf 'see https://www.example.com/a and bob@example.org\n' >"$work/in/a.txt"
out=$("$p/bin/corvexa-scan" --quiet "$work/in") || fail "corvexa-scan status $?"
[ "$out" = $'https://www.example.com/a\nbob@example.org' ] || fail "corvexa-scan printed: $out"
"$p/bin/corvexa-scan" --version | grep -qx 'corvexa-scan [0-9.]*' || fail "corvexa-scan --version"
"$p/bin/corvexa" --version | grep -qx 'Corvexa [0-9.]*' || fail "corvexa --version"

# The installed window, offscreen: it stands up and closes itself. A window
# that cannot be created shows its error box instead and never quits.
status=0
HOME=$work QT_QPA_PLATFORM=offscreen CORVEXA_QUIT_AFTER_MS=1500 timeout 60 "$p/bin/corvexa" || status=$?
[ "$status" -eq 0 ] || fail "corvexa from the installed tree: status $status"
echo "install check passed"
