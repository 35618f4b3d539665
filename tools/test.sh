#!/usr/bin/env bash
# Installs what the build and the tests need, builds everything with the
# address and undefined-behaviour checkers in build-test/ (compiler warnings
# count as errors there), and runs every test.  Exits with the status of the test run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install_deps.sh cmake g++ clang libgtest-dev libgmock-dev python3-ezdxf \
  libocct-data-exchange-dev parallel chromium

cmake -S . -B build-test -DTROVAK_SANITIZE=ON -DTROVAK_WERROR=ON -DCMAKE_BUILD_TYPE=Debug
cmake --build build-test -j2
cd build-test
set +e
ctest --output-on-failure -j2
status=$?
exit $status
