#!/bin/sh
# An mbox from another program imported into a store, then a Japanese word of one body
# found through the command line: from the files, then through the index, the same mail.
set -eu
mail=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
inbox="$work/MailBox/Account01/受信箱"
mkdir -p "$inbox"
"$mail" import "$source" "$inbox" >/dev/null
from_files=$("$mail" search "$work" 第二会議室)
case $from_files in "[\"$inbox/"*".eml\"]") ;; *) echo "files: $from_files" >&2; exit 1 ;; esac
"$mail" index "$work" >/dev/null
[ -f "$work/search-index.db" ]
[ "$("$mail" search "$work" 第二会議室)" = "$from_files" ]
[ "$("$mail" search "$work" 存在しない語)" = "[]" ]
