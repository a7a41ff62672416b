#!/usr/bin/env bash
# Builds the libFuzzer targets (Debian's clang, address and undefined-behaviour
# sanitizers) into build-fuzz and runs them from their committed corpus and
# regression inputs (which clang's sanitizers check more closely than the
# CTest replays in the other builds).
#
#   tests/fuzz/run.sh                      every target, 60 seconds each
#   tests/fuzz/run.sh -t 3600 parse lz     the targets named, an hour each
#   tests/fuzz/run.sh --runs 500           a fixed number of runs each (CI)
#   tests/fuzz/run.sh --stress mold_load   with the collector stressed
#   tests/fuzz/run.sh --seeds              rewrite the committed seed corpus
#
# Inputs that fail land in build-fuzz/findings/<target>/ (crash-*, leak-*,
# timeout-*). Once mended, copy the input to tests/fuzz/regressions/<target>/:
# CTest replays that folder in every build.
set -euo pipefail
cd "$(dirname "$0")/../.."
all=(transcode zanbin mold_load parse inflate lz json csv url preprocessor gui deep
     image_png image_jpeg image_gif image_tiff image_bmp)
seconds=60 runs= stress= seeds= targets=()
while (($#)); do
  case $1 in
    -t) seconds=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --stress) stress=1; shift ;;
    --seeds) seeds=1; shift ;;
    *) targets+=("$1"); shift ;;
  esac
done
((${#targets[@]})) || targets=("${all[@]}")

build=build-fuzz
if [[ ! -f $build/build.ninja ]]; then
  CC=clang CXX=clang++ cmake -S . -B $build -G Ninja -DZAN_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
if [[ -n $seeds ]]; then
  cmake --build $build --target zan_fuzz_make_seeds
  rm -rf tests/fuzz/corpus
  ASAN_OPTIONS=detect_leaks=0 $build/tests/fuzz/zan_fuzz_make_seeds tests/fuzz/corpus
  exit 0
fi
cmake --build $build --target zan_fuzz_all

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
[[ -n $stress ]] && export ZAN_GC_STRESS=1
status=0
for t in "${targets[@]}"; do
  work=$build/corpus/$t findings=$build/findings/$t
  mkdir -p "$work" "$findings"
  limit=(-max_total_time="$seconds")
  [[ -n $runs ]] && limit=(-runs="$runs")
  if [[ -n $runs ]]; then echo "== fuzz $t: $runs runs"; else echo "== fuzz $t: $seconds s"; fi
  inputs=(tests/fuzz/corpus/$t)
  [[ -d tests/fuzz/regressions/$t ]] && inputs+=(tests/fuzz/regressions/$t)
  if ! $build/tests/fuzz/zan_fuzz_$t "${limit[@]}" -timeout=20 -rss_limit_mb=4096 \
      -max_len=8192 -artifact_prefix="$findings/" -print_final_stats=1 \
      "$work" "${inputs[@]}" 2>"$build/fuzz-$t.log"; then
    echo "fuzz $t failed; see $build/fuzz-$t.log and $findings/"
    tail -40 "$build/fuzz-$t.log"
    status=1
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$build/fuzz-$t.log" || true
done
exit $status
