#!/usr/bin/env bash
# Installs a built Quillbrook into its program folder: the program and, beside it, the
# user guide the Help menu opens. Mail and settings in the folder are left alone.
# Usage: install-program.sh BUILD_DIR PROGRAM_DIR
set -euo pipefail
build="$1"
prefix="$2"
app="$build/src/ui"
mkdir -p "$prefix"
install -m 0755 "$app/quillbrook" "$prefix/quillbrook"
# The new guide goes in whole before the old one goes, so an interrupted install never
# leaves half a guide.
rm -rf "$prefix/guide.new"
cp -R "$app/guide" "$prefix/guide.new"
rm -rf "$prefix/guide"
mv "$prefix/guide.new" "$prefix/guide"
