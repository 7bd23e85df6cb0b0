#!/usr/bin/env bash
# Makes the Debian package from the build tree's programs, unpacks it into a
# temporary root and runs the unpacked programs, so that a package that lacks
# a file or cannot start fails. Usage: test_package.sh BUILD_DIR DESKTOP_ID VERSION
set -euo pipefail
build="$1" id="$2" version="$3"
work="$(mktemp -d "${TMPDIR:-/tmp}/velalog-package.XXXXXX")"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack could not make the package"; }
deb="$(ls "$work"/out/velalog_*.deb)"
dpkg-deb -x "$deb" "$work/root"

control="$(dpkg-deb -f "$deb" Depends Suggests)"
for dep in libqt6webenginecore6-bin fonts-dejavu-core libc6 libqt6webenginewidgets6 libhamlib-utils socat; do
  grep -q "$dep" <<<"$control" || fail "the package's relations lack $dep: $control"
done

root="$work/root"
for file in usr/bin/velalog usr/bin/velalog-cat usr/bin/velalog-radiosim \
  "usr/share/applications/$id.desktop" "usr/share/metainfo/$id.metainfo.xml" \
  "usr/share/icons/hicolor/scalable/apps/$id.svg" "usr/share/icons/hicolor/256x256/apps/$id.png" \
  usr/share/man/man1/velalog.1.gz usr/share/man/man1/velalog-cat.1.gz \
  usr/share/man/man1/velalog-radiosim.1.gz usr/share/velalog/demo/logbook_server.py \
  usr/share/doc/velalog/copyright usr/share/doc/velalog/changelog.gz \
  usr/share/locale/de/LC_MESSAGES/cport.mo usr/share/locale/de/LC_MESSAGES/velalog.mo; do
  [[ -s "$root/$file" ]] || fail "the package lacks /$file"
done

check_version() { # program
  local out
  out="$(QT_QPA_PLATFORM=offscreen timeout 60 "$root/usr/bin/$1" --version 2>&1)" ||
    fail "$1 --version failed: $out"
  [[ "$out" == "$1 $version" ]] || fail "$1 --version printed '$out', not '$1 $version'"
}
check_version velalog-cat
check_version velalog-radiosim
check_version velalog

# Every text the programs translate has its German entry (a renamed text
# would otherwise fall back to English without a word).
src="$(cd "$(dirname "$0")/../.." && pwd)"
for pot in "$src/cat/transport/locale/cport.pot" "$src/app/locale/velalog.pot"; do
  msgcmp "$(dirname "$pot")/de.po" "$pot" 2>"$work/msgcmp.log" ||
    fail "$(dirname "$pot")/de.po lacks texts of its template: $(cat "$work/msgcmp.log")"
done

# The installed catalogues are found from where the program lies.
out="$(LANGUAGE=de LC_ALL=C.UTF-8 timeout 60 "$root/usr/bin/velalog-cat" --radio ft950 --port 250 \
  --ini "$root/no-such-folder/VelaLog.ini" </dev/null 2>&1)" || true
[[ "$out" == *"kann nicht geschrieben werden"* ]] ||
  fail "velalog-cat did not use the installed catalogue: $out"

# A bad option is refused with status 2, without a display.
set +e
out="$(env -u DISPLAY "$root/usr/bin/velalog" --no-such-option 2>&1)"
status=$?
set -e
[[ $status -eq 2 && "$out" == *"no-such-option"* ]] || fail "a bad option gave status $status: $out"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/$id.desktop" || fail "desktop entry"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" >"$work/as.log" 2>&1 ||
    { cat "$work/as.log" >&2; fail "AppStream metadata"; }
fi
echo "package ok: $(basename "$deb")"
