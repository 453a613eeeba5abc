#!/usr/bin/env bash
# Runs each libFuzzer target for its share of SECONDS from its committed seeds,
# keeping what it learns in BUILD/corpus, and ends with one verdict line.
# Usage: scripts/fuzz.sh BUILD SECONDS   (BUILD holds the fuzz targets, built)
set -uo pipefail
cd "$(dirname "$0")/.."
build=$1 seconds=$2
# Target and its seed directory (the GIMP exports the tests use seed the reader).
targets=(fuzz_picture_text:fuzz/corpus/picture_text fuzz_gimp_header:tools/testdata fuzz_springs:fuzz/corpus/springs
         fuzz_collide:fuzz/corpus/collide)
share=$(( seconds / ${#targets[@]} ))
(( share > 0 )) || share=1
runs=0 crashed=()
start=$SECONDS
for entry in "${targets[@]}"; do
  target=${entry%%:*} seeds=${entry#*:}
  corpus=$build/corpus/$target log=$build/$target.log
  mkdir -p "$corpus"
  "$build/$target" -max_total_time="$share" -malloc_limit_mb=256 -print_final_stats=1 \
    -artifact_prefix="$build/$target-" "$corpus" "$seeds" >"$log" 2>&1
  status=$?
  n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  runs=$(( runs + ${n:-0} ))
  if (( status != 0 )); then
    crashed+=("$target")
    tail -n 30 "$log"
    echo "fuzz: $target failed (status $status); input saved as $build/$target-*, log in $log"
  else
    echo "fuzz: $target: ${n:-0} runs, no crashes (log in $log)"
  fi
done
verdict="fuzz: ${#targets[@]} targets, $runs runs in $(( SECONDS - start )) s"
if (( ${#crashed[@]} )); then
  echo "$verdict, ${#crashed[@]} failed: ${crashed[*]}"
  exit 1
fi
echo "$verdict, no crashes"
