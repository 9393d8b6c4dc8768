#!/usr/bin/env bash
# The desktop entry, the AppStream metadata and the .vdm file type: the validators accept
# them, and a document is known by its first bytes as well as by its name.
set -euo pipefail
desktop="$1/ui/desktop"

desktop-file-validate "$desktop/kestrune-vardomon.desktop"
appstreamcli validate --no-net "$desktop"/*.metainfo.xml

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/mime/packages"
cp "$desktop/kestrune-vardomon.xml" "$work/mime/packages/"
XDG_DATA_DIRS="$work:/usr/share" update-mime-database "$work/mime"

type_of() {
  XDG_DATA_HOME="$work" XDG_DATA_DIRS="$work:/usr/share" gio info -a standard::content-type "$1" |
    sed -n 's/^ *standard::content-type: //p'
}
# A document without its suffix: the magic number of its header.
printf '\x0d\xf0\xad\xba\x04\x00\x00\x00\x00\x00\x00\x00' >"$work/hosts"
# The suffix alone.
printf 'x' >"$work/list.vdm"
for file in hosts list.vdm; do
  got="$(type_of "$work/$file")"
  if [ "$got" != application/x-kestrune-vardomon ]; then
    echo "$file is $got, not application/x-kestrune-vardomon" >&2
    exit 1
  fi
done
grep -qx 'MimeType=application/x-kestrune-vardomon;' "$desktop/kestrune-vardomon.desktop"
