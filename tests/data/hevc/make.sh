#!/usr/bin/env bash
# Remakes the small raw H.265 streams (and one hvcC box) in this folder that
# the mini parser tests read. Needs ffmpeg with libx265, and python3. The
# files are committed, so the tests need neither; run this only to change or
# add a file. Each stream is three frames of a moving test picture.
#
#   tests/data/hevc/make.sh
set -euo pipefail

cd "$(dirname "$0")"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

ff=(ffmpeg -hide_banner -nostdin -v error -y)
exact=(-fflags +bitexact -flags:v +bitexact -map_metadata -1)
x265_params="pools=none:frame-threads=1:log-level=error:info=0"

encode() { # size pix_fmt output [extra x265 params] [more ffmpeg options...]
    local size=$1 pix_fmt=$2 output=$3 extra=${4:-}
    shift 4 || shift $#
    "${ff[@]}" -f lavfi -i "testsrc2=size=$size:rate=24" -frames:v 3 "${exact[@]}" \
        -c:v libx265 -pix_fmt "$pix_fmt" -crf 32 -g 12 \
        -x265-params "$x265_params${extra:+:$extra}" "$@" -f hevc "$output"
}

# Coded 176x104: 100 is not a multiple of the minimum coding block, so the
# conformance window crops 4 rows (offset 2 in 4:2:0 chroma units).
encode 176x100 yuv420p crop_420_176x100.hevc
# 4:2:2: chroma is full height, so the bottom offset counts single rows,
# while the right offset still counts pairs of columns (170 -> coded 176).
encode 170x100 yuv422p crop_422_170x100.hevc
encode 176x100 yuv420p10le main10_176x100.hevc
# Sample aspect ratio from the fixed table (index 14 is 4:3) and an
# extended one (index 255 with its own width and height).
encode 176x144 yuv420p sar_table_4x3.hevc "sar=14"
encode 176x144 yuv420p sar_extended_5x3.hevc "sar=5\\:3"
# No timing anywhere: the frame rate falls back to its default. This
# encoder then writes one stray zero bit between the VUI and the SPS stop
# bit, as files in the wild have it.
encode 176x100 yuv420p no_timing.hevc "no-vui-timing-info=1"
# Timing rewritten into the VPS and the VUI after encoding.
"${ff[@]}" -i crop_420_176x100.hevc -c copy -bsf:v "hevc_metadata=tick_rate=30000/1001" \
    -f hevc vps_timing_30000_1001.hevc

# The hvcC box an MP4 muxer writes for crop_420_176x100.hevc's parameter sets.
"${ff[@]}" -i crop_420_176x100.hevc -c copy -tag:v hvc1 "${exact[@]}" "$scratch/crop.mp4"
python3 - "$scratch/crop.mp4" crop_420_176x100.hvcC <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.index(b"hvcC") - 4
size = struct.unpack(">I", data[at:at + 4])[0]
open(sys.argv[2], "wb").write(data[at:at + size])
PY
