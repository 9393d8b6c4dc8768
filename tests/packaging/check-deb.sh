#!/usr/bin/env bash
# Builds the .deb from a Release build of the programs alone, unpacks it into a scratch folder
# and checks it: its files, its dependencies, that the unpacked program runs, and lintian.
# Arguments: source folder, work folder (kept, so a second run builds only what changed),
# C++ compiler, and the programs to build.
set -euo pipefail
src="$1"
work="$2"
cxx="$3"
shift 3
programs=("$@")

build="$work/build"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" \
      -DVARDO_BUILD_TESTS=OFF -DVARDO_WERROR=ON >/dev/null
nice cmake --build "$build" -j"${JOBS:-2}" --target "${programs[@]}"
rm -rf "$work/out" "$work/root"
(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb="$(echo "$work"/out/kestrune-vardomon_*.deb)"
[ -f "$deb" ] || { echo "no package was built" >&2; exit 1; }

fail() { echo "$deb: $*" >&2; exit 1; }

dpkg-deb -x "$deb" "$work/root"
expected=(
  usr/share/applications/kestrune-vardomon.desktop
  usr/share/doc/kestrune-vardomon/KsVardomon.html
  usr/share/doc/kestrune-vardomon/changelog.gz
  usr/share/doc/kestrune-vardomon/copyright
  usr/share/man/man1/vardomon.1.gz
  usr/share/icons/hicolor/scalable/apps/kestrune-vardomon.svg
  usr/share/icons/hicolor/scalable/mimetypes/application-x-kestrune-vardomon.svg
  usr/share/metainfo/example.kestrune.vardomon.metainfo.xml
  usr/share/mime/packages/kestrune-vardomon.xml
)
for p in "${programs[@]}"; do
  expected+=("usr/bin/$p")
done
for f in "${expected[@]}"; do
  [ -f "$work/root/$f" ] || fail "misses $f"
done

depends="$(dpkg-deb -f "$deb" Depends)"
for d in libc6 libqt6widgets6 libqt6dbus6 libqt6svg6 libsystemd0 libcap2-bin; do
  grep -Eq "(^|, )$d( |,|$)" <<<"$depends" || fail "does not depend on $d: $depends"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qx './postinst' || fail "has no postinst"
dpkg-deb -I "$deb" postinst | grep -q 'setcap cap_net_raw+ep' || fail "postinst sets no capability"

version="$("$work/root/usr/bin/vardomon" --version)"
[ "$version" = "Kestrune Vardomon $(dpkg-deb -f "$deb" Version)" ] || fail "--version said: $version"

lintian --fail-on error --tag-display-limit 0 "$deb"
