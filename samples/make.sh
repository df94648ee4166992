#!/bin/sh
# Makes samples/sample.mp4: 2 s of a 160x90 test pattern in H.264 with
# B-frames (MPEG-4 Part 2 when libx264 is missing) and a 1 kHz sine in AAC,
# moov first. Kept small (well under 200 KB) so that it can be committed.
# Reruns give the same bytes with the same ffmpeg.
set -eu
cd "$(dirname "$0")"

if ffmpeg -hide_banner -encoders 2>/dev/null | grep -q ' libx264 '; then
  video="-c:v libx264 -preset medium -profile:v high -bf 2 -g 12 -crf 30 -x264-params threads=1"
else
  video="-c:v mpeg4 -bf 2 -g 12 -q:v 8"
fi

# shellcheck disable=SC2086
ffmpeg -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc2=size=160x90:rate=25:duration=2" \
  -f lavfi -i "sine=frequency=1000:sample_rate=44100:duration=2" \
  $video -pix_fmt yuv420p \
  -c:a aac -b:a 64k -ac 1 \
  -map_metadata -1 -fflags +bitexact -flags:v +bitexact -flags:a +bitexact \
  -movflags +faststart \
  sample.mp4

echo "samples/sample.mp4: $(wc -c < sample.mp4) bytes"
