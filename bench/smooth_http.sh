#!/usr/bin/env bash
# Plays a one-hour Smooth Streaming presentation (122 MB: both tracks in one
# .ismv, and a server manifest naming that file for video and for audio)
# from disk and over loopback HTTP from lighttpd, and prints the best of
# RUNS wall times, their ratio and the HTTP requests one play costs.
# Goals: at most 3x the time from disk, at most 200 requests.
#
#   bench/smooth_http.sh [ISODMX_BINARY]
#
# The media file is made with ffmpeg once, in $SCRATCH (default
# /tmp/isodmx-smooth), outside the tree.
set -euo pipefail
cd "$(dirname "$0")/.."

isodmx=$(realpath "${1:-build/tools/isodmx}")
scratch=${SCRATCH:-/tmp/isodmx-smooth}
runs=${RUNS:-3}
mkdir -p "$scratch"

for tool in ffmpeg lighttpd python3 "$isodmx"; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "smooth_http.sh: $tool is missing" >&2
    exit 1
  fi
done

if [[ ! -s "$scratch/long.ismv" ]]; then
  echo "making $scratch/long.ismv (one hour, about 122 MB)..." >&2
  ffmpeg -v error -y -f lavfi -i testsrc2=size=320x180:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 \
    -t 3600 -c:v libx264 -preset ultrafast -threads 1 -b:v 235k -maxrate 260k -bufsize 500k -g 50 \
    -keyint_min 50 -sc_threshold 0 -c:a aac -b:a 32k -shortest -f ismv "$scratch/long.ismv"
fi
cat > "$scratch/long.ism" <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<smil xmlns="http://www.w3.org/2001/SMIL20/Language">
  <body>
    <switch>
      <video src="long.ismv" systemBitrate="235000"><param name="trackID" value="1"/></video>
      <audio src="long.ismv" systemBitrate="32000"><param name="trackID" value="2"/></audio>
    </switch>
  </body>
</smil>
XML

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$scratch/lighttpd.conf" <<EOF2
server.document-root = "$scratch"
server.bind = "127.0.0.1"
server.port = $port
server.modules = ("mod_accesslog")
accesslog.filename = "$scratch/access.log"
server.errorlog = "$scratch/error.log"
mimetype.assign = ("" => "application/octet-stream")
EOF2
: > "$scratch/access.log"
lighttpd -D -f "$scratch/lighttpd.conf" &
server=$!
trap 'kill $server; wait $server 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  if python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null; then break; fi
  sleep 0.1
done

# Best wall time in seconds of RUNS plays of $1.
best_of() {
  local best="" start end elapsed
  for _ in $(seq "$runs"); do
    start=$(date +%s.%N)
    "$isodmx" play "$1" >/dev/null
    end=$(date +%s.%N)
    elapsed=$(python3 -c "print(f'{$end - $start:.2f}')")
    if [[ -z "$best" ]] || python3 -c "import sys; sys.exit(0 if $elapsed < $best else 1)"; then best=$elapsed; fi
  done
  echo "$best"
}

size=$(stat -c %s "$scratch/long.ismv")
disk=$(best_of "$scratch/long.ism")
: > "$scratch/access.log"
http=$(best_of "http://127.0.0.1:$port/long.ism")
# lighttpd writes its log in its own time; all of it is there once it stops.
kill $server
wait $server 2>/dev/null || true
trap - EXIT
requests=$(( $(wc -l < "$scratch/access.log") / runs ))
ratio=$(python3 -c "print(f'{$http / $disk:.2f}')")
printf 'media file      %d bytes\n' "$size"
printf 'from disk       %s s (best of %d)\n' "$disk" "$runs"
printf 'over HTTP       %s s (best of %d), %sx disk (goal <= 3)\n' "$http" "$runs" "$ratio"
printf 'HTTP requests   %d for one play (goal <= 200), of them:\n' "$requests"
awk '{print $6, $7, $9}' "$scratch/access.log" | sort | uniq -c | awk -v runs="$runs" '{printf "  %d %s %s %s\n", $1 / runs, $2, $3, $4}' 
