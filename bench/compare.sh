#!/usr/bin/env bash
# Times `isodmx play` side by side with ffmpeg's stream copy, GStreamer's
# qtdemux (straight into fakesinks, no queues) and reading the file, on
# generated inputs:
#   long       one hour of 160x90 H.264 + AAC: about 259,000 small samples,
#              where the per-sample cost decides;
#   big        long looped to 16,000 s by stream copy: 1.15 million samples;
#   rate       160 s of high-bit-rate 1080p H.264 + AAC (about 630 MB),
#              where copying the bytes decides;
#   long-frag, big-frag
#              the fragmented twins of long and big (stream copy, one
#              fragment per key frame, with a random-access index).
# One round runs every command on every input back to back, so each ratio
# compares runs made under the same load; the table gives medians over
# RUNS rounds (at least 5) of wall and CPU (user + system) seconds and the
# peak resident set, the median of the per-round ratios, then the goals:
#   long, big   isodmx <= 0.25 x ffmpeg and <= 0.2 x GStreamer (wall);
#   rate        isodmx <= 1.2 x reading the file (wall);
#   memory      long, big: peak resident set at most 8 bytes a sample
#               above that of playing a tiny file;
#   *-frag      no slower than the unfragmented twin (wall; 5 % allowed
#               for noise).
#
#   bench/compare.sh [ISODMX_BINARY]
#
# ISODMX_BINARY defaults to build/tools/isodmx (the default RelWithDebInfo
# build is what is measured). The inputs are made with ffmpeg once, in
# $SCRATCH (default /tmp/isodmx-compare), outside the tree; every command
# runs against a warm page cache.
set -euo pipefail
cd "$(dirname "$0")/.."

isodmx=${1:-build/tools/isodmx}
scratch=${SCRATCH:-/tmp/isodmx-compare}
runs=${RUNS:-5}
((runs >= 5)) || runs=5
tiny=tests/data/h264_faststart.mp4
inputs=(long big rate long-frag big-frag)
commands=(isodmx ffmpeg gstreamer read)
mkdir -p "$scratch"

for tool in ffmpeg gst-launch-1.0 /usr/bin/time "$isodmx"; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "compare.sh: $tool is missing" >&2
    exit 1
  fi
done

make_inputs() {
  local make="ffmpeg -v error -y"
  if [[ ! -s "$scratch/long.mp4" ]]; then
    echo "making long.mp4 (one hour, small samples)..." >&2
    $make -f lavfi -i testsrc2=size=160x90:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 \
      -t 3600 -c:v libx264 -preset ultrafast -g 50 -c:a aac -b:a 32k -shortest "$scratch/long.mp4"
  fi
  if [[ ! -s "$scratch/big.mp4" ]]; then
    echo "making big.mp4 (1.15 million samples)..." >&2
    $make -stream_loop 4 -i "$scratch/long.mp4" -t 16000 -c copy "$scratch/big.mp4"
  fi
  if [[ ! -s "$scratch/rate.mp4" ]]; then
    echo "making rate.mp4 (160 s, high bit rate)..." >&2
    $make -f lavfi -i testsrc2=size=1920x1080:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 \
      -t 160 -c:v libx264 -preset ultrafast -crf 4 -g 50 -c:a aac -b:a 128k -shortest "$scratch/rate.mp4"
  fi
  for twin in long big; do
    if [[ ! -s "$scratch/$twin-frag.mp4" ]]; then
      echo "making $twin-frag.mp4..." >&2
      $make -i "$scratch/$twin.mp4" -c copy -movflags +frag_keyframe+empty_moov+default_base_moof \
        "$scratch/$twin-frag.mp4"
    fi
  done
}

# Sets cmd to the command line of one command on one file.
command_line() {
  local file=$2
  case $1 in
    isodmx) cmd=("$isodmx" play "$file") ;;
    ffmpeg) cmd=(ffmpeg -v error -i "$file" -map 0 -c copy -f null -) ;;
    # Without queues no sink may wait for preroll, or the one streaming
    # thread would stop at the first sink.
    gstreamer) cmd=(gst-launch-1.0 -q filesrc location="$file" ! qtdemux name=d
      d. ! fakesink async=false d. ! fakesink async=false) ;;
    read) cmd=(dd if="$file" of=/dev/null bs=1M status=none) ;;
  esac
}

# "wall cpu kilobytes" of one run; the wall time is taken around
# /usr/bin/time (whose own is in 10 ms steps).
measure() {
  local out start end
  command_line "$1" "$2"
  out=$(mktemp)
  start=$(date +%s%N)
  /usr/bin/time -o "$out" -f "%U %S %M" "${cmd[@]}" >/dev/null 2>&1 || {
    echo "compare.sh: ${cmd[*]} failed" >&2
    exit 1
  }
  end=$(date +%s%N)
  awk -v ns=$((end - start)) '{ printf "%.3f %.3f %d\n", ns / 1e9, $1 + $2, $3 }' "$out"
  rm -f "$out"
}

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "nan" }'; }
verdict() { awk -v v="$1" -v goal="$2" 'BEGIN { print (v <= goal) ? "met" : "MISSED" }'; }

make_inputs
declare -A wall cpu peak ratios samples
for input in "${inputs[@]}"; do
  cat "$scratch/$input.mp4" >/dev/null
  samples[$input]=$("$isodmx" play --json "$scratch/$input.mp4" | grep -o '"samples":[0-9]*' | awk -F: '{ n += $2 } END { print n }')
done
read -r _ _ startup_kb < <(measure isodmx "$tiny")

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores; $runs rounds" >&2
for ((round = 1; round <= runs; round++)); do
  echo "round $round..." >&2
  for input in "${inputs[@]}"; do
    declare -A this=()
    for command in "${commands[@]}"; do
      read -r w c k < <(measure "$command" "$scratch/$input.mp4")
      [[ -n "$w" ]] || exit 1
      wall[$input:$command]+=" $w"
      cpu[$input:$command]+=" $c"
      peak[$input:$command]+=" $k"
      this[$command]=$w
    done
    for other in ffmpeg gstreamer read; do
      ratios[$input:$other]+=" $(ratio "${this[isodmx]}" "${this[$other]}")"
    done
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

printf "%-10s %-10s %9s %9s %9s %11s\n" input command wall-s cpu-s peak-MB samples
for input in "${inputs[@]}"; do
  for command in "${commands[@]}"; do
    printf "%-10s %-10s %9s %9s %9.1f %11s\n" "$input" "$command" \
      "$(median <<<"${wall[$input:$command]}")" "$(median <<<"${cpu[$input:$command]}")" \
      "$(awk -v k="$(median <<<"${peak[$input:$command]}")" 'BEGIN { print k / 1024 }')" \
      "$([[ $command == isodmx ]] && echo "${samples[$input]}" || echo -)"
  done
done

echo
echo "median ratios of isodmx (wall, per round):"
for input in "${inputs[@]}"; do
  printf "  %-10s /ffmpeg %s  /gstreamer %s  /read %s\n" "$input" \
    "$(median <<<"${ratios[$input:ffmpeg]}")" "$(median <<<"${ratios[$input:gstreamer]}")" \
    "$(median <<<"${ratios[$input:read]}")"
done

echo
echo "goals:"
for input in long big; do
  r=$(median <<<"${ratios[$input:ffmpeg]}")
  echo "  $input: isodmx/ffmpeg $r <= 0.25 $(verdict "$r" 0.25)"
  r=$(median <<<"${ratios[$input:gstreamer]}")
  echo "  $input: isodmx/gstreamer $r <= 0.2 $(verdict "$r" 0.2)"
done
r=$(median <<<"${ratios[rate:read]}")
echo "  rate: isodmx/read $r <= 1.2 $(verdict "$r" 1.2)"
for input in long big; do
  kb=$(median <<<"${peak[$input:isodmx]}")
  per=$(awk -v kb="$kb" -v s="$startup_kb" -v n="${samples[$input]}" 'BEGIN { printf "%.2f", (kb - s) * 1024 / n }')
  echo "  $input: peak $((kb / 1024)) MB, start-up $((startup_kb / 1024)) MB: $per bytes a sample <= 8 $(verdict "$per" 8)"
done
for twin in long big; do
  r=$(ratio "$(median <<<"${wall[$twin-frag:isodmx]}")" "$(median <<<"${wall[$twin:isodmx]}")")
  echo "  $twin-frag: isodmx wall / $twin's $r <= 1.05 $(verdict "$r" 1.05)"
done
