#!/usr/bin/env bash
# Runs tools/convert-many with two job slots over a scratch tree of good
# and bad drawings, and over a list on standard input: every file has its
# row in the summary, the bad ones with their status, and a bad file does
# not stop the others.  Usage: convert_many_test.sh <source folder> <program>
set -euo pipefail
source_dir=$1
program=$2
if ! command -v parallel >/dev/null; then
  echo "GNU parallel is not installed"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

tree="$work/drawings"
mkdir -p "$tree/a" "$tree/b c"
example="$source_dir/examples/line_and_circle.igs"
cp "$example" "$tree/a/first.igs"
cp "$example" "$tree/b c/second one.iges"
cp "$example" "$tree/third.igs"
: >"$tree/a/empty.igs"                              # status 19
head -c 200 "$example" >"$tree/b c/cut.igs"         # an unreadable IGES file
printf 'not a drawing\n' >"$tree/notes.txt"         # does not match

status=0
"$source_dir/tools/convert-many" --program "$program" --jobs 2 --out "$work/out" \
  --config "$source_dir/ririzidedareru/example.config" "$tree" >"$work/console" || status=$?
cat "$work/console"
[ "$status" -eq 1 ] || fail "convert-many ended with $status, not 1, with bad files among the good"
csv="$work/out/summary.csv"
cat "$csv"

row() { grep -F "\"$1\"," "$csv" || fail "no row for $1"; }
[ "$(head -n 1 "$csv")" = "file,direction,status,errors,warnings,seconds" ] || fail "header"
[ "$(wc -l <"$csv")" -eq 6 ] || fail "not one row per matching file"
for good in "a/first.igs" "b c/second one.iges" "third.igs"; do
  [[ "$(row "$good")" =~ ^\"[^\"]+\",-igesin,0,0,[0-9]+,[0-9]+\.[0-9][0-9]$ ]] || fail "row of $good"
  [ -s "$work/out/$good.kpl" ] || fail "no script for $good"
  [ -s "$work/out/$good.prot" ] || fail "no protocol for $good"
done
[[ "$(row a/empty.igs)" == '"a/empty.igs",-igesin,19,'* ]] || fail "status of the empty file"
cut_status=$(row "b c/cut.igs" | cut -d, -f3)
[ "$cut_status" -ne 0 ] || fail "the cut file converted"
grep -q "5 files converted, 3 with status 0, 2 failed" "$work/out/summary.txt" || fail "summary text"

# A list on standard input, with an extra option for every run.
status=0
printf '%s\n' "$tree/third.igs" "$tree/a/empty.igs" |
  "$source_dir/tools/convert-many" --program "$program" -j 2 -o "$work/listed" -x -g1 \
    --config "$source_dir/ririzidedareru/example.config" >/dev/null || status=$?
[ "$status" -eq 1 ] || fail "a listed run ended with $status"
[ "$(wc -l <"$work/listed/summary.csv")" -eq 3 ] || fail "not one row per listed file"
grep -q -- '-g1 ' "$work/listed/summary.csv" && fail "the option reached the table"
grep -q ',-igesin,0,' "$work/listed/summary.csv" || fail "the listed good file"
echo "convert-many: every file its row"
