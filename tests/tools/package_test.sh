#!/usr/bin/env bash
# Builds the Debian package in a Release build folder of its own, unpacks
# it into a scratch root (dpkg -x: nothing is installed on the machine) and
# converts the bundled example there with the installed program and its
# installed data.  Usage: package_test.sh <source folder> <scratch folder>
set -euo pipefail
source_dir=$1
work=$2
mkdir -p "$work"
build="$work/release"
root=$(mktemp -d "$work/root.XXXXXX")
trap 'rm -rf "$root"' EXIT

# Fast where it can be: the Release folder stays between runs, so a run
# compiles only what changed since the last; the compiler cache keys its
# entries on paths below the source folder, so the Release objects of one
# checkout serve every other; only the program is built, and the package's
# install step takes it as built instead of building every target first.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$source_dir}
fi
cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTROVAK_TESTS=OFF \
  -DTROVAK_BENCH=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "${launcher[@]}" >"$work/configure.log"
cmake --build "$build" -j"$(nproc)" --target trovak_iges >"$work/build.log"
rm -f "$build"/trovak-iges_*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.log")
package=$(ls "$build"/trovak-iges_*.deb)
dpkg-deb --field "$package" Package Version Depends
dpkg -x "$package" "$root"

fail() { echo "FAILED: $*" >&2; exit 1; }
program="$root/usr/bin/trovak_iges"
data="$root/usr/lib/trovak_iges/ririzidedareru"
[ -L "$program" ] || fail "no program link in usr/bin"
[ -d "$data/msc" ] && [ -d "$data/assign" ] || fail "no data tree beside the program"
[ -x "$root/usr/lib/trovak_iges/convert-many" ] || fail "convert-many is not installed"
for page in usr/share/man/man1/trovak_iges.1 usr/share/man/de/man1/trovak_iges.1; do
  [ -s "$root/$page" ] || fail "no manual page $page"
  grep -q '^\.SH' "$root/$page" || fail "$page is no manual page"
done

# The example, converted by the unpacked program with the unpacked data:
# the protocol names the installed assignment directory.
run="$root/run"
mkdir -p "$run"
cd "$run"
status=0
"$program" -igesin "$root/usr/share/doc/trovak_iges/examples/line_and_circle.igs" line_and_circle.kpl \
  "$data/example.config" >console.log 2>&1 || status=$?
[ "$status" -eq 0 ] || { cat console.log; fail "the installed program ended with status $status"; }
[ -s line_and_circle.kpl ] || fail "no KPL script"
grep -q "$data/assign/iges/" line_and_circle.igs.prot || fail "the protocol does not name the installed data"
echo "package $(basename "$package") converts the example with its installed data"
