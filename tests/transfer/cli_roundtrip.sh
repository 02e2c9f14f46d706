#!/bin/sh
# The command-line import and export as a script uses them: an mbox from another program
# into a folder, again (nothing stored twice), out to an mbox and to .eml files, and back
# into fresh folders with every mail byte for byte the same.
set -eu
mail=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/first" "$work/from-mbox" "$work/from-eml"

expect() {  # expect OUTPUT PATTERN
  case $1 in *"$2"*) ;; *) echo "got: $1, wanted: $2" >&2; exit 1 ;; esac
}
checksums() { (cd "$1" && find . -maxdepth 1 -type f -name '*.eml' -exec sha256sum {} + | cut -d' ' -f1 | sort); }

expect "$("$mail" import "$source" "$work/first")" '"stored":3,"duplicates":0,"truncated":false,"error":""'
expect "$("$mail" import "$source" "$work/first")" '"stored":0,"duplicates":3'
expect "$("$mail" export "$work/first" "$work/out.mbox")" '"exported":3,"error":""'
expect "$("$mail" export "$work/first" "$work/out-eml")" '"exported":3,"error":""'
expect "$("$mail" import "$work/out.mbox" "$work/from-mbox")" '"stored":3'
expect "$("$mail" import "$work/out-eml" "$work/from-eml")" '"stored":3'
[ "$(checksums "$work/first")" = "$(checksums "$work/from-mbox")" ]
[ "$(checksums "$work/first")" = "$(checksums "$work/from-eml")" ]
# Bad input: a clear message, exit code 1, nothing stored.
if out=$("$mail" import "$0" "$work/first"); then exit 1; fi
expect "$out" 'mbox 形式のファイルではありません'
