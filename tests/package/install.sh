#!/usr/bin/env bash
# Installs the build into a scratch root and builds the Debian package, and checks what both hold
# as a user's desktop would use it: the programs run, the desktop entry names the installed program
# and icon, the manual pages read, and the menu's start seeds the user's own folder.
# Usage: install.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/sorvpkg-XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

expected=(
    usr/bin/sorvdemo
    usr/bin/sorvtool
    usr/share/applications/sorvdemo.desktop
    usr/share/icons/hicolor/48x48/apps/sorvdemo.png
    usr/share/icons/hicolor/256x256/apps/sorvdemo.png
    usr/share/sorvdemo/SorvDemo.TXT
    usr/share/sorvdemo/SorveQts.TXT
    usr/share/sorvdemo/Order.Frm
    usr/share/man/man1/sorvtool.1.gz
    usr/share/man/man1/sorvdemo.1.gz
    usr/share/doc/sorvdemo/guide/index.md
    usr/share/doc/sorvdemo/README.md
)

# cmake --install into a scratch root.
root="$scratch/root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >"$scratch/install.log"
for f in "${expected[@]}"; do [ -s "$root/$f" ] || fail "cmake --install left out $f"; done
[ -x "$root/usr/bin/sorvdemo" ] && [ -x "$root/usr/bin/sorvtool" ] || fail "the programs are not executable"

# The desktop entry starts the installed program in the user's folder, with the installed icon.
entry="$root/usr/share/applications/sorvdemo.desktop"
grep -qx 'Exec=sorvdemo --user-folder' "$entry" || fail "desktop entry: Exec"
grep -qx 'Icon=sorvdemo' "$entry" || fail "desktop entry: Icon"
grep -qx 'Type=Application' "$entry" || fail "desktop entry: Type"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$entry" || fail "desktop entry does not validate"; fi

# The manual page is a page about sorvtool that names every command of the program's own help.
page="$(gzip -dc "$root/usr/share/man/man1/sorvtool.1.gz")"
grep -q '^\.TH SORVTOOL 1' <<<"$page" || fail "sorvtool.1 has no title line"
"$root/usr/bin/sorvtool" help >"$scratch/help.txt" || fail "the installed sorvtool does not run"
for cmd in $(sed -n 's/^  sorvtool \([a-z-]*\).*/\1/p' "$scratch/help.txt" | sort -u); do
    [ "$cmd" = help ] && continue
    grep -q "$cmd" <<<"$page" || fail "sorvtool.1 does not describe '$cmd'"
done
"$root/usr/bin/sorvdemo" --help | grep -q -- '--user-folder' || fail "sorvdemo --help"

# Started as the menu starts it, the installed program makes and seeds the user's folder.
home="$scratch/home"
mkdir -p "$home"
# (exec: the pid is the program's, so that it is the program that is stopped below, not only the
# shell around it, which left the program running on after every run of this test.)
(cd / && HOME="$home" XDG_DATA_HOME= QT_QPA_PLATFORM=offscreen exec "$root/usr/bin/sorvdemo" --user-folder \
    >"$scratch/run.log" 2>&1) &
pid=$!
folder="$home/.local/share/sorvdemo"
for _ in $(seq 1 600); do
    [ -s "$folder/CUSTOMER.QNL" ] && [ -s "$folder/PEOPLE.QNL" ] && [ -s "$folder/SorvDemo.TXT" ] && break
    kill -0 $pid 2>/dev/null || break
    sleep 0.1
done
kill $pid 2>/dev/null || true
for _ in $(seq 1 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -0 $pid 2>/dev/null && { kill -9 $pid; fail "the program did not end on SIGTERM"; }
wait $pid 2>/dev/null || true
for f in CUSTOMER.QNL PEOPLE.QNL SorvDemo.TXT SorveQts.TXT Order.Frm; do
    [ -s "$folder/$f" ] || { cat "$scratch/run.log" >&2; fail "the user's folder lacks $f"; }
done
[ -w "$folder/SorvDemo.TXT" ] || fail "the seeded notes are not writable"
count="$("$root/usr/bin/sorvtool" db stats "$folder/CUSTOMER" | sed -n 's/^records: //p')"
[ "$count" = 60 ] || fail "the seeded Customer table holds '$count' records"

# The Debian package holds the same files and says what it needs.
pkg="$scratch/pkg"
(cd "$build" && cpack -G DEB -B "$pkg" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log" >&2; fail "cpack"; }
deb="$(ls "$pkg"/sorvdemo_*.deb 2>/dev/null | head -1)"
[ -n "$deb" ] || fail "no package was made"
dpkg-deb -f "$deb" Package | grep -qx sorvdemo || fail "package name"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "the package does not depend on Qt's widgets"
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./||' >"$scratch/contents"
for f in "${expected[@]}"; do grep -qx "$f" "$scratch/contents" || fail "the package lacks $f"; done
dpkg-deb -x "$deb" "$scratch/unpacked"
"$scratch/unpacked/usr/bin/sorvtool" help >/dev/null || fail "the packaged sorvtool does not run"
echo "installed and packaged: ${#expected[@]} files checked"
