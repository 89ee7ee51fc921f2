#!/usr/bin/env bash
# Installs into a staging folder and builds the Debian package, then checks
# the layout, the desktop entry and the package's control data; the package
# is tried with apt's simulation, and its program is started offscreen.
# Usage: install_test.sh BUILD_DIR
set -uo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
ok() { echo "ok: $*"; }

for tool in desktop-file-validate dpkg-deb cpack dpkg-shlibdeps; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

DESTDIR="$work/stage" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 ||
  fail "cmake --install: $(cat "$work/install.log")"
for f in usr/bin/relaiskarte usr/share/applications/relaiskarte.desktop \
         usr/share/icons/hicolor/16x16/apps/relaiskarte.png \
         usr/share/icons/hicolor/32x32/apps/relaiskarte.png; do
  [ -f "$work/stage/$f" ] || fail "not installed: /$f"
done
[ -x "$work/stage/usr/bin/relaiskarte" ] || fail "the program is not executable"
ok "installed: program, desktop entry, icons 16 and 32"
desktop-file-validate "$work/stage/usr/share/applications/relaiskarte.desktop" || fail "desktop entry invalid"
grep -qx 'Exec=relaiskarte' "$work/stage/usr/share/applications/relaiskarte.desktop" || fail "Exec"
ok "desktop entry valid"

(cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1) || fail "cpack: $(cat "$work/cpack.log")"
deb=$(ls "$work"/deb/relaiskarte_*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || fail "no package built"
[ "$(dpkg-deb -f "$deb" Package)" = relaiskarte ] || fail "package name"
version=$(dpkg-deb -f "$deb" Version)
[ -n "$version" ] || fail "no version"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6serialport6 libqt6widgets6 libqt6gui6 libqt6core6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/relaiskarte ./usr/share/applications/relaiskarte.desktop \
         ./usr/share/icons/hicolor/32x32/apps/relaiskarte.png; do
  grep -q " $f\$" <<<"$contents" || fail "package lacks $f"
done
ok "package $(basename "$deb"): version $version, depends on the Qt 6 libraries it links"

if command -v apt-get >/dev/null; then
  apt-get install --simulate --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
    fail "apt cannot install the package: $(tail -5 "$work/apt.log")"
  ok "apt would install it"
fi

# The packaged program starts (and keeps running until it is stopped).
dpkg-deb -x "$deb" "$work/root"
QT_QPA_PLATFORM=offscreen timeout 3 "$work/root/usr/bin/relaiskarte" >"$work/run.log" 2>&1
rc=$?
[ $rc -eq 124 ] || fail "the packaged program ended on its own (exit $rc): $(cat "$work/run.log")"
ok "the packaged program starts"
