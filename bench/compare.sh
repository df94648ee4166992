#!/usr/bin/env bash
# Times `isodmx play` against ffmpeg's stream copy and GStreamer's qtdemux on
# two generated inputs, side by side in one run:
#   long.mp4  one hour of 160x90 H.264 + AAC: over 250,000 small samples,
#             where the per-sample cost decides;
#   rate.mp4  one minute of high-bit-rate 1080p H.264 + AAC, where copying
#             the bytes decides; compared also with reading the file.
# Every command runs against a warm page cache; the best of RUNS wall times
# and the largest peak resident set are printed with the ratios.
#
#   bench/compare.sh [ISODMX_BINARY]
#
# ISODMX_BINARY defaults to build/tools/isodmx (a Release build measures the
# product: cmake -DCMAKE_BUILD_TYPE=Release). The inputs are made with
# ffmpeg once, in $SCRATCH (default /tmp/isodmx-compare), outside the tree.
set -euo pipefail
cd "$(dirname "$0")/.."

isodmx=${1:-build/tools/isodmx}
scratch=${SCRATCH:-/tmp/isodmx-compare}
runs=${RUNS:-3}
mkdir -p "$scratch"

for tool in ffmpeg gst-launch-1.0 /usr/bin/time "$isodmx"; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "compare.sh: $tool is missing" >&2
    exit 1
  fi
done

make_inputs() {
  if [[ ! -s "$scratch/long.mp4" ]]; then
    echo "making $scratch/long.mp4 (one hour, small samples)..." >&2
    ffmpeg -v error -y -f lavfi -i testsrc2=size=160x90:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 \
      -t 3600 -c:v libx264 -preset ultrafast -g 50 -c:a aac -b:a 32k -shortest "$scratch/long.mp4"
  fi
  if [[ ! -s "$scratch/rate.mp4" ]]; then
    echo "making $scratch/rate.mp4 (one minute, high bit rate)..." >&2
    ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 \
      -t 60 -c:v libx264 -preset ultrafast -crf 4 -g 50 -c:a aac -b:a 128k -shortest "$scratch/rate.mp4"
  fi
}

# "seconds kilobytes" of the best of $runs runs of the command. The wall
# time is taken around /usr/bin/time (whose own is in 10 ms steps); its
# peak resident set is the command's.
measure() {
  local best="" peak=0 start end seconds kb
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    kb=$(/usr/bin/time -f "%M" "$@" 2>&1 >/dev/null | tail -1)
    end=$(date +%s%N)
    seconds=$(awk "BEGIN{printf \"%.3f\", ($end - $start) / 1e9}")
    if [[ -z "$best" ]] || awk "BEGIN{exit !($seconds < $best)}"; then best=$seconds; fi
    ((kb > peak)) && peak=$kb
  done
  echo "$best $peak"
}

ratio() { awk "BEGIN{ if ($2 > 0) printf \"%.2f\", $1 / $2; else print \"-\" }"; }

make_inputs
printf "%-10s %-10s %10s %10s\n" input command seconds peak-MB
for input in long rate; do
  file="$scratch/$input.mp4"
  cat "$file" >/dev/null
  read -r ours ours_kb < <(measure "$isodmx" play "$file")
  read -r ff ff_kb < <(measure ffmpeg -v error -i "$file" -map 0 -c copy -f null -)
  read -r gst gst_kb < <(measure gst-launch-1.0 -q filesrc location="$file" ! qtdemux name=d \
    d. ! queue ! fakesink d. ! queue ! fakesink)
  read -r rd rd_kb < <(measure dd if="$file" of=/dev/null bs=1M)
  for row in "isodmx $ours $ours_kb" "ffmpeg $ff $ff_kb" "gstreamer $gst $gst_kb" "read $rd $rd_kb"; do
    set -- $row
    printf "%-10s %-10s %10s %10.1f\n" "$input" "$1" "$2" "$(awk "BEGIN{print $3 / 1024}")"
  done
  echo "$input: isodmx/ffmpeg $(ratio "$ours" "$ff"), isodmx/gstreamer $(ratio "$ours" "$gst"), isodmx/read $(ratio "$ours" "$rd") ($(stat -c %s "$file") bytes)"
done
