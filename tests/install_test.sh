#!/usr/bin/env bash
# Installs into a staging folder and builds the Debian package, then checks
# what a distribution would: the layout, the desktop entry, the AppStream
# data, the icons, the man page, the licence and changelog, a stripped
# binary, lintian, and the version against the project's.
# Usage: install_test.sh BUILD_DIR PROJECT_VERSION
set -uo pipefail
build=$1 version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
ok() { echo "ok: $*"; }

for tool in desktop-file-validate appstreamcli lintian man dpkg-deb cpack dpkg-shlibdeps file systemd-analyze; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

stage=$work/stage/usr
DESTDIR="$work/stage" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 ||
  fail "cmake --install: $(cat "$work/install.log")"
share=$stage/share
for f in bin/relaiskarte share/applications/relaiskarte.desktop share/metainfo/de.korvander.relaiskarte.metainfo.xml \
         share/icons/hicolor/scalable/apps/relaiskarte.svg share/man/man1/relaiskarte.1.gz \
         share/doc/relaiskarte/copyright share/doc/relaiskarte/changelog.gz \
         share/doc/relaiskarte/relaiskarte.conf.example; do
  [ -f "$stage/$f" ] || fail "not installed: /usr/$f"
done
for size in 16 32 48 64 128 256; do
  file "$share/icons/hicolor/${size}x${size}/apps/relaiskarte.png" | grep -q "$size x $size" ||
    fail "no ${size}x${size} icon"
done
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$share/doc/relaiskarte/copyright" || fail "copyright file not machine-readable"
zcat "$share/doc/relaiskarte/changelog.gz" | head -1 | grep -q "^relaiskarte ($version)" ||
  fail "changelog does not start with version $version"
ok "installed: program, desktop entry, metainfo, icons 16 to 256 and SVG, man page, copyright, changelog"

desktop-file-validate "$share/applications/relaiskarte.desktop" || fail "desktop entry invalid"
appstreamcli validate --no-net "$share/metainfo/de.korvander.relaiskarte.metainfo.xml" >"$work/as.log" 2>&1 ||
  fail "metainfo: $(cat "$work/as.log")"
# The whole tree: the metainfo file named after its id, its launchable found.
appstreamcli validate-tree --no-net "$work/stage" >"$work/as-tree.log" 2>&1 ||
  fail "metainfo in the tree: $(cat "$work/as-tree.log")"
grep -q -E '^[EW]:' "$work/as-tree.log" && fail "metainfo in the tree: $(cat "$work/as-tree.log")"
# The service: a valid unit (run against the staged program), hardened.
unit=$stage/lib/systemd/system/relaiskarte.service
[ -f "$unit" ] || fail "not installed: /usr/lib/systemd/system/relaiskarte.service"
sed "s|/usr/bin/relaiskarte|$stage/bin/relaiskarte|" "$unit" >"$work/relaiskarte.service"
systemd-analyze verify --man=no "$work/relaiskarte.service" >"$work/verify.log" 2>&1 &&
  [ ! -s "$work/verify.log" ] || fail "unit: $(cat "$work/verify.log")"
exposure=$(systemd-analyze security --offline=true "$work/relaiskarte.service" 2>/dev/null |
  sed -n 's/.*Overall exposure level for relaiskarte.service: \([0-9.]*\).*/\1/p')
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.0) }' ||
  fail "service exposure ${exposure:-unknown}, more than 2.0"
ok "service unit valid, exposure $exposure"
# The template: one card per instance, its own settings and state folder, as hardened.
template=$stage/lib/systemd/system/relaiskarte@.service
[ -f "$template" ] || fail "not installed: /usr/lib/systemd/system/relaiskarte@.service"
sed "s|/usr/bin/relaiskarte|$stage/bin/relaiskarte|" "$template" >"$work/relaiskarte@.service"
cp "$work/relaiskarte@.service" "$work/relaiskarte@garage.service"
systemd-analyze verify --man=no "$work/relaiskarte@garage.service" >"$work/verify-t.log" 2>&1 &&
  [ ! -s "$work/verify-t.log" ] || fail "template unit: $(cat "$work/verify-t.log")"
grep -q -- '--config /etc/relaiskarte/%i.conf --hold' "$template" &&
  grep -q '^StateDirectory=relaiskarte/%i$' "$template" || fail "template: not one card per instance"
texposure=$(systemd-analyze security --offline=true "$work/relaiskarte@garage.service" 2>/dev/null |
  sed -n 's/.*Overall exposure level for relaiskarte@garage.service: \([0-9.]*\).*/\1/p')
[ "$texposure" = "$exposure" ] || fail "template exposure ${texposure:-unknown}, not $exposure"
ok "template unit valid, one card per instance, exposure $texposure"
man -l "$share/man/man1/relaiskarte.1.gz" 2>"$work/man.log" | grep -q -- '--relays' ||
  fail "man page does not render: $(cat "$work/man.log")"
[ "$("$stage/bin/relaiskarte" --version)" = "relaiskarte $version" ] || fail "--version is not $version"
# The installed program finds its modules where they were installed.
for module in window mqtt web; do
  [ -f "$stage/libexec/relaiskarte/relaiskarte-$module.so" ] || fail "not installed: relaiskarte-$module.so"
done
"$stage/bin/relaiskarte" --web-fingerprint --web-password-file "$work/web/pw" >/dev/null 2>&1 ||
  fail "the installed program cannot load its web module"
QT_QPA_PLATFORM=offscreen timeout 3 "$stage/bin/relaiskarte" 2>"$work/window.log"
[ $? -eq 124 ] || fail "the installed window did not stay up: $(cat "$work/window.log")"
ok "desktop entry and metainfo valid, man page renders, --version says $version"

(cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1) || fail "cpack: $(cat "$work/cpack.log")"
deb=$(ls "$work"/deb/relaiskarte_*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || fail "no package built"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6serialport6 libqt6widgets6 libqt6gui6 libqt6core6 libqt6dbus6 libmosquitto1 \
  libcpp-httplib; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
dpkg-deb -x "$deb" "$work/root"
file "$work/root/usr/bin/relaiskarte" | grep -q ', stripped' || fail "the packaged program is not stripped"
lintian "$deb" >"$work/lintian.log" 2>&1
grep -E '^[EW]: ' "$work/lintian.log" && fail "lintian reports errors or warnings"
ok "package $(basename "$deb"): stripped, depends on the Qt 6 libraries it links, lintian clean"

apt-get install --simulate --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
  fail "apt cannot install the package: $(tail -5 "$work/apt.log")"
QT_QPA_PLATFORM=offscreen timeout 3 "$work/root/usr/bin/relaiskarte" >"$work/run.log" 2>&1
rc=$?
[ $rc -eq 124 ] || fail "the packaged program ended on its own (exit $rc): $(cat "$work/run.log")"
ok "apt would install it, and the packaged program starts"
