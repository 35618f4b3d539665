#!/usr/bin/env bash
# Output sums: converts every drawing the suite knows (the bundled example,
# the drawings that exist only as test code, the DXF seeds of the fuzz
# target and, when it is there, the shared corpus) in the directions and
# levels below and records the SHA-256 of every script and exchange file the
# program writes, with the exit status of each run.  A row is the sum (or
# "status=N" for the run itself), the run's label and the file.
#
#   bash tests/output_sums.sh --check  BUILD_DIR   compare with tests/output_sums.txt
#   bash tests/output_sums.sh --update BUILD_DIR   rewrite tests/output_sums.txt
#
# BUILD_DIR holds trovak_iges and tests/sums_inputs.  Rows whose input is missing
# (no corpus beside the project) are left out of the comparison and named.
# Refresh the sums only in a commit that says which change of output it
# makes.  The clock is fixed through SOURCE_DATE_EPOCH, so the time stamps
# that scripts and exchange files carry do not change from run to run; the
# program's build date, which scripts and exchange files carry too, is
# replaced by 01.01.2026 before summing, so the sums do not depend on the day
# the program was compiled.
set -euo pipefail

mode=${1:-}
build=${2:-}
if [[ ( "$mode" != --check && "$mode" != --update ) || -z "$build" ]]; then
  echo "usage: $0 --check|--update BUILD_DIR" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$build" && pwd)
program=$build/trovak_iges
sums=$root/tests/output_sums.txt
corpus=$root/../shared/corpus
for tool in "$program" "$build/tests/sums_inputs"; do
  [[ -x "$tool" ]] || { echo "missing: $tool (build it first)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/trovak_sums.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/generated" "$work/runs"
"$build/tests/sums_inputs" "$work/generated"

export SOURCE_DATE_EPOCH=1767225600   # 2026-01-01 00:00:00 UTC
export TZ=UTC LC_ALL=C

# The build date as the version text shows it: "dd.mm.yyyy"; scripts carry
# it as "dd.mm.yy".
build_date=$({ "$program" -v || true; } | sed -n 's/.* : \([0-9][0-9]\)\.\([0-9][0-9]\)\.\([0-9][0-9]\)\([0-9][0-9]\)$/\1 \2 \3 \4/p')
[[ -n "$build_date" ]] || { echo "cannot read the build date from '$program -v'" >&2; exit 2; }
read -r day month century year <<< "$build_date"
fixed_date="s/$day\\.$month\\.$century$year/01.01.2026/g; s/$day\\.$month\\.$year/01.01.26/g"

# One run: a fresh folder holding a copy of the input under its own name;
# every file the run leaves there but the input, the configuration and the
# protocol is summed, in name order.  The exchange file comes first on the
# command line: the input of the input directions, the output of the
# output directions (their switches end in "out").
actual=$work/actual.txt
: > "$actual"
run() {
  local label=$1 input=$2 output=$3
  shift 3
  local dir=$work/runs/$(printf '%s' "$label" | tr '/ ' '__')
  mkdir -p "$dir/tmp" "$dir/lib"
  cp "$input" "$dir/"
  local name
  name=$(basename "$input")
  printf 'TR_PROT ./\nTR_TEMP %s/tmp\nTR_UBBL ./lib\nTR_LANG english\nTR_STAT nein\n' \
    "$dir" > "$dir/run.config"
  printf '%b' "${extra_config:-}" >> "$dir/run.config"
  local files=("$name" "$output")
  [[ "${*: -1}" == *out ]] && files=("$output" "$name")
  local status=0
  (cd "$dir" && timeout 300 "$program" "$@" "${files[@]}" run.config \
      > /dev/null 2> "$dir/.stderr" < /dev/null) || status=$?
  printf 'status=%s %s -\n' "$status" "$label" >> "$actual"
  (cd "$dir" && find . -type f ! -name "$name" ! -name run.config ! -name '*.prot' \
      ! -name .stderr -printf '%P\n' | LC_ALL=C sort | while IFS= read -r file; do
        printf '%s %s %s\n' "$(sed -e "$fixed_date" < "$file" | sha256sum | cut -d' ' -f1)" \
          "$label" "$file"
      done) >> "$actual"
}

# The input directions, each at the default level and at the full scope.
iges_inputs=("$root/examples/line_and_circle.igs" "$work/generated/annotated.igs")
dxf_inputs=("$root"/fuzz/dxf_seeds/*.dxf)
transfer_inputs=("$work"/generated/*.trf)
edx_inputs=("$work"/generated/*.edx)
corpus_iges=()
corpus_dxf=()
corpus_dwg=()
if [[ -d "$corpus" ]]; then
  while IFS= read -r f; do corpus_iges+=("$f"); done < <(find "$corpus/iges" -type f | LC_ALL=C sort)
  while IFS= read -r f; do corpus_dxf+=("$f"); done \
    < <(find "$corpus/dxf" "$corpus/dwg" -type f \( -name '*.dxf' -o -name '*.dxfb' \) | LC_ALL=C sort)
  while IFS= read -r f; do corpus_dwg+=("$f"); done < <(find "$corpus/dwg" -type f -name '*.dwg' | LC_ALL=C sort)
fi

label_of() {  # a path as it reads in the sums: corpus/..., test/...
  case $1 in
    "$corpus"/*) printf 'corpus/%s' "${1#"$corpus"/}" ;;
    "$work"/generated/*) printf 'test/%s' "${1#"$work"/generated/}" ;;
    *) printf 'test/%s' "${1#"$root"/}" ;;
  esac
}

for f in "${iges_inputs[@]}" "${corpus_iges[@]}"; do
  l=$(label_of "$f")
  run "$l/igesin" "$f" out.kpl -igesin
  run "$l/igesin-g1" "$f" out.kpl -igesin -g1
  run "$l/igesin-plus" "$f" out.kpl -igesin -plus
  # Subfigure definitions as models of their own in the user library.
  extra_config='TR_USER vorh\n' run "$l/igesin-plus-models" "$f" out.kpl -igesin -plus
done
for f in "${dxf_inputs[@]}" "${corpus_dxf[@]}"; do
  l=$(label_of "$f")
  run "$l/dxf12in" "$f" out.kpl -dxf12in
  run "$l/dxf12in-plus" "$f" out.kpl -dxf12in -plus
  run "$l/dxfin" "$f" out.kpl -dxfin
done
for f in "${corpus_dwg[@]}"; do
  l=$(label_of "$f")
  run "$l/dwgin" "$f" out.kpl -dwgin
  run "$l/dwgin-plus" "$f" out.kpl -dwgin -plus
done
for f in "${transfer_inputs[@]}"; do
  l=$(label_of "$f")
  run "$l/igesout" "$f" out.igs -igesout
  run "$l/igesout-plus" "$f" out.igs -plus -igesout
  run "$l/igesout-vdais" "$f" out.igs -vdais -igesout
  run "$l/dxf12out" "$f" out.dxf -dxf12out
  run "$l/dxfout" "$f" out.dxf -dxfout
  run "$l/dxfout-acad12" "$f" out.dxf -acad12 -dxfout
  run "$l/dwgout" "$f" out.dwg -dwgout
  run "$l/dwgout-acad25" "$f" out.dwg -acad25 -dwgout
  run "$l/dwgout-acad26" "$f" out.dwg -acad26 -dwgout
  run "$l/dwgout-acad9" "$f" out.dwg -acad9 -dwgout
  run "$l/dwgout-acad10" "$f" out.dwg -acad10 -dwgout
  run "$l/dwgout-acad12" "$f" out.dwg -acad12 -dwgout
  run "$l/dwgout-acad13" "$f" out.dwg -acad13 -dwgout
  run "$l/dwgout-acad14" "$f" out.dwg -acad14 -dwgout
  run "$l/dwgout-acad2004" "$f" out.dwg -acad2004 -dwgout
done
for f in "${edx_inputs[@]}"; do
  l=$(label_of "$f")
  run "$l/edx-igesout" "$f" out.igs -edxin -plus -igesout
  run "$l/edx-dxf12out" "$f" out.dxf -edxin -dxf12out
  run "$l/edx-dxfout" "$f" out.dxf -edxin -dxfout
  run "$l/edx-dwgout" "$f" out.dwg -edxin -dwgout
done

if [[ "$mode" == --update ]]; then
  if [[ ${#corpus_iges[@]} -eq 0 ]]; then
    echo "the corpus is missing: the sums would lose its rows; not updated" >&2
    exit 1
  fi
  cp "$actual" "$sums"
  echo "wrote $(wc -l < "$sums") rows to $sums"
  exit 0
fi

# Check: every row of a run that took place here must be recorded as it is.
expected=$work/expected.txt
labels=$work/labels.txt
awk '{ print $2 }' "$actual" | LC_ALL=C sort -u > "$labels"
# The rows of the recorded sums whose run took place here.
awk 'NR == FNR { ran[$0] = 1; next } ($2 in ran)' "$labels" "$sums" | LC_ALL=C sort > "$expected"
LC_ALL=C sort "$actual" > "$work/actual.sorted"
skipped=$(awk '$1 ~ /^status=/' "$sums" | wc -l)
skipped=$((skipped - $(wc -l < "$labels")))
if ! diff -u "$expected" "$work/actual.sorted" > "$work/diff.txt"; then
  echo "output sums differ from tests/output_sums.txt (- recorded, + now):"
  cat "$work/diff.txt"
  exit 1
fi
echo "output sums: $(wc -l < "$work/actual.sorted") rows match"
if [[ $skipped -gt 0 ]]; then
  echo "left out: $skipped runs whose input is missing here (corpus)"
fi
