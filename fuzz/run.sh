#!/bin/sh
# fuzz/run.sh NAME SECONDS: builds the fuzz targets when needed and runs
# fuzzer NAME for SECONDS over a scratch corpus (fuzz/corpus-NAME, kept
# between runs) seeded from tests/data and samples. Findings land in
# fuzz/corpus-NAME-artifacts. The build directory is $ISODMX_FUZZ_BUILD,
# by default build-fuzz.
set -eu
if [ $# -lt 1 ]; then
  echo "usage: fuzz/run.sh NAME [SECONDS]" >&2
  exit 2
fi
name=$1
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ISODMX_FUZZ_BUILD:-$root/build-fuzz}

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DISODMX_FUZZ=ON -DISODMX_TESTS=OFF
fi
ninja -C "$build" "$name"

corpus=$root/fuzz/corpus-$name
artifacts=$root/fuzz/corpus-$name-artifacts
mkdir -p "$corpus" "$artifacts"
seeds=""
for dir in "$root/tests/data" "$root/samples"; do
  [ -d "$dir" ] && seeds="$seeds $dir"
done
# shellcheck disable=SC2086
exec "$build/fuzz/$name" -max_total_time="$seconds" -artifact_prefix="$artifacts/" "$corpus" $seeds
