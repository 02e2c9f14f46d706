#!/usr/bin/env bash
# Installs the dependencies, builds Quillbrook, installs it into its program folder
# (outside the build tree, so deleting a build never deletes mail) and starts it.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/install-deps.sh"
build="$here/build"
prefix="${QB_PROGRAM_DIR:-$HOME/Quillbrook}"
# Only the program and what it installs: tests, fuzz targets and benchmarks are for
# developers (scripts/test.sh, scripts/fuzz.sh) and would multiply the first start's wait.
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQB_BUILD_TESTS=OFF \
  -DQB_BUILD_BENCH=OFF -DQB_FUZZ=OFF
cmake --build "$build" -j "$(nproc)" --target quillbrook
if [ ! -f "$build/src/ui/quillbrook" ]; then
  echo "The mail store and the mail library are built; the program window is not part of this build yet."
  exit 0
fi
"$here/scripts/install-program.sh" "$build" "$prefix"
exec "$prefix/quillbrook"
