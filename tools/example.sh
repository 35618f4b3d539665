#!/usr/bin/env bash
# Installs what the build needs, builds the program in build-example/ and
# converts the bundled example drawing with the bundled configuration:
# examples/line_and_circle.igs becomes the KPL script out/line_and_circle.kpl,
# with its protocol file beside it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install_deps.sh cmake g++

cmake -S . -B build-example -DCMAKE_BUILD_TYPE=Release -DTROVAK_TESTS=OFF -DTROVAK_BENCH=OFF
cmake --build build-example -j2 --target trovak_iges

mkdir -p out
cd out
set +e
../build-example/trovak_iges -igesin ../examples/line_and_circle.igs line_and_circle.kpl \
  ../ririzidedareru/example.config
status=$?
echo "trovak_iges finished with status $status"
exit $status
