#!/usr/bin/env bash
# Remakes the media files in this folder and their *.facts.json.
# Needs ffmpeg/ffprobe (with libx264, libx265, libmp3lame), GStreamer 1.x
# (x264enc, voaacenc, mp4mux, qtmux), libquicktime's lqt_transcode (Debian
# quicktime-utils), python3 and, for repeatable GStreamer and libquicktime
# output, faketime. The files are committed, so the tests need none of these; run this
# only to change or add a file.
#
#   tests/data/make.sh            remake everything
#   tests/data/make.sh FILE...    remake only the named files (and their facts)
set -euo pipefail

cd "$(dirname "$0")"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

ff=(ffmpeg -hide_banner -nostdin -v error -y)
# No encoder strings, no creation times, no copied tags: reruns give the same bytes.
exact=(-fflags +bitexact -flags:v +bitexact -flags:a +bitexact -map_metadata -1 -map_chapters -1)

# Sources: 2 s of moving test picture and a 440 Hz tone.
video() { # size rate seconds
    echo -f lavfi -i "testsrc2=size=$1:rate=$2:duration=$3"
}
tone() { # sample_rate seconds
    echo -f lavfi -i "sine=frequency=440:beep_factor=4:sample_rate=$1:duration=$2"
}

x264=(-c:v libx264 -threads 1 -preset medium -crf 30 -pix_fmt yuv420p
      -bf 2 -g 12 -keyint_min 12 -sc_threshold 0)
x265=(-c:v libx265 -tag:v hvc1 -pix_fmt yuv420p -crf 32 -g 12
      -x265-params "pools=none:frame-threads=1:log-level=error:info=0")
aac=(-c:a aac -b:a 32k -ac 2)

make_h264_bframes() {
    "${ff[@]}" $(video 160x90 24 2) $(tone 48000 2) "${exact[@]}" \
        "${x264[@]}" "${aac[@]}" h264_bframes.mp4
}
make_h264_faststart() {
    "${ff[@]}" $(video 160x90 24 2) $(tone 48000 2) "${exact[@]}" \
        "${x264[@]}" "${aac[@]}" -movflags +faststart h264_faststart.mp4
}
make_hevc_hvc1() {
    "${ff[@]}" $(video 176x144 24 1) "${exact[@]}" "${x265[@]}" hevc_hvc1.mp4
}
make_hevc_crop() {
    # 100 is not a multiple of the minimum coding block: coded 104, cropped to 100.
    "${ff[@]}" $(video 176x100 24 1) "${exact[@]}" "${x265[@]}" hevc_crop.mp4
}
make_hevc_sar() {
    "${ff[@]}" $(video 176x144 24 1) "${exact[@]}" -vf setsar=4/3 "${x265[@]}" hevc_sar.mp4
}
make_mpeg4_part2() {
    "${ff[@]}" $(video 176x144 24 2) $(tone 48000 2) "${exact[@]}" \
        -c:v mpeg4 -threads 1 -q:v 12 -g 12 -bf 0 "${aac[@]}" mpeg4_part2.mp4
}
make_mp3_in_mp4() {
    "${ff[@]}" $(tone 44100 2) "${exact[@]}" \
        -c:a libmp3lame -b:a 64k -ac 2 mp3_in_mp4.mp4
}
make_mp3_22khz() {
    # Below 32 kHz the MPEG-2 audio object type (0x69) is written.
    "${ff[@]}" $(tone 22050 2) "${exact[@]}" \
        -c:a libmp3lame -b:a 32k -ac 1 mp3_22khz.mp4
}
make_aac_only() {
    "${ff[@]}" $(tone 48000 2) "${exact[@]}" -c:a aac -b:a 64k -ac 2 aac_only.m4a
}
make_pcm_twos() {
    "${ff[@]}" $(tone 44100 0.4) "${exact[@]}" -c:a pcm_s16be -ac 2 pcm_twos.mov
}
make_pcm_sowt() {
    "${ff[@]}" $(tone 44100 0.4) "${exact[@]}" -c:a pcm_s16le -ac 2 pcm_sowt.mov
}
make_ulaw() {
    "${ff[@]}" $(tone 8000 1) "${exact[@]}" -c:a pcm_mulaw -ac 1 ulaw.mov
}
make_tx3g() {
    cat > "$scratch/cues.srt" <<'EOF'
1
00:00:00,200 --> 00:00:00,900
First cue

2
00:00:01,000 --> 00:00:01,500
Second cue

3
00:00:01,600 --> 00:00:01,900
Third
EOF
    "${ff[@]}" $(video 160x90 12 2) -i "$scratch/cues.srt" "${exact[@]}" \
        -map 0:v -map 1:s "${x264[@]}" -c:s mov_text \
        -metadata:s:s:0 language=eng tx3g.mp4
}
make_mjpeg() {
    "${ff[@]}" $(video 160x90 12 0.5) "${exact[@]}" \
        -c:v mjpeg -pix_fmt yuvj420p -q:v 10 mjpeg.mov
}
# A plain 440 Hz tone for the PCM layouts: a decoded wrong layout is noise.
pure_tone() { # sample_rate seconds
    echo -f lavfi -i "sine=frequency=440:sample_rate=$1:duration=$2"
}
make_mp3_16khz() {
    # MPEG-2 layer III: 24 kbit/s at 16 kHz, 108-byte frames.
    "${ff[@]}" $(tone 16000 0.5) "${exact[@]}" -c:a libmp3lame -b:a 24k -ac 1 mp3_16khz.mp4
}
# With its first picture as ffmpeg decodes it, bottom-up in the RGB types'
# byte order (rows unpadded), for comparison.
make_raw_rgb24_odd() {
    # 30 pixels of 3 bytes: rows that the RGB24 type pads to 92 bytes.
    "${ff[@]}" $(video 30x24 12 0.25) "${exact[@]}" -c:v rawvideo -pix_fmt rgb24 raw_rgb24_odd.mov
    "${ff[@]}" -i raw_rgb24_odd.mov -frames:v 1 -vf vflip -pix_fmt bgr24 -f rawvideo raw_rgb24_odd.bgr24
}
make_raw_argb() {
    "${ff[@]}" $(video 30x24 12 0.25) "${exact[@]}" -c:v rawvideo -pix_fmt argb raw_argb.mov
    "${ff[@]}" -i raw_argb.mov -frames:v 1 -vf vflip -pix_fmt bgra -f rawvideo raw_argb.bgra
}
make_raw_rgb24() {
    "${ff[@]}" $(video 32x24 12 0.5) "${exact[@]}" \
        -c:v rawvideo -pix_fmt rgb24 raw_rgb24.mov
}
make_yuv2() {
    "${ff[@]}" $(video 32x24 12 0.5) "${exact[@]}" \
        -c:v rawvideo -pix_fmt yuyv422 -tag:v yuv2 yuv2.mov
}

# GStreamer stamps the wall-clock time into the movie and track headers; under
# faketime (if installed) the clock starts at a fixed second, so reruns match.
stamp=()
if command -v faketime >/dev/null; then
    stamp=(faketime -f "@2020-01-01 00:00:00")
fi
gst_sources() { # muxer name
    echo "videotestsrc num-buffers=48 pattern=ball" \
        "! video/x-raw,width=160,height=90,framerate=24/1,format=I420" \
        "! x264enc bframes=2 key-int-max=12 threads=1 speed-preset=medium quantizer=30 pass=qual" \
        "! h264parse ! $1." \
        "audiotestsrc num-buffers=94 samplesperbuffer=1024 freq=440" \
        "! audio/x-raw,rate=48000,channels=2" \
        "! voaacenc bitrate=32000 ! aacparse ! $1."
}
make_gst_h264_aac() {
    "${stamp[@]}" gst-launch-1.0 -q -e $(gst_sources m) mp4mux name=m ! filesink location=gst_h264_aac.mp4
}
make_gst_fragmented() {
    "${stamp[@]}" gst-launch-1.0 -q -e $(gst_sources m) mp4mux name=m fragment-duration=500 \
        ! filesink location=gst_fragmented.mp4
}

make_gst_twos24() {
    # qtmux stores 24-bit big-endian PCM as "twos".
    "${stamp[@]}" gst-launch-1.0 -q -e audiotestsrc num-buffers=3 samplesperbuffer=1024 freq=440 \
        ! audio/x-raw,format=S24BE,rate=22050,channels=1 ! qtmux ! filesink location=gst_twos24.mov
}

# libquicktime writes the QuickTime PCM layouts ffmpeg does not; lqt_transcode
# re-encodes the sound of a file ffmpeg made.
lqt() { # codec output ffmpeg-arguments...
    local codec=$1 output=$2
    shift 2
    "${ff[@]}" "$@" "${exact[@]}" "$scratch/lqt_source.mov"
    "${stamp[@]}" lqt_transcode -ac "$codec" "$scratch/lqt_source.mov" "$output" >/dev/null
}
make_lqt_raw16() {
    lqt rawaudio lqt_raw16.mov $(pure_tone 44100 0.1) -ac 2 -c:a pcm_s16be
}
make_lqt_twos8() {
    # An 8-bit source makes the twos encoder write 8-bit signed samples.
    lqt twos lqt_twos8.mov $(pure_tone 22050 0.1) -ac 1 -c:a pcm_u8
}
make_lqt_lpcm() {
    lqt lpcm lqt_lpcm.mov $(pure_tone 44100 0.1) -ac 2 -c:a pcm_s16be
}
make_lqt_ulaw_stereo() {
    lqt ulaw lqt_ulaw_stereo.mov $(pure_tone 8000 0.5) -ac 2 -c:a pcm_s16be
}

make_frag_empty_moov() {
    "${ff[@]}" $(video 160x90 24 2) $(tone 48000 2) "${exact[@]}" \
        "${x264[@]}" "${aac[@]}" -movflags frag_keyframe+empty_moov frag_empty_moov.mp4
}
make_frag_default_base_moof() {
    "${ff[@]}" $(video 160x90 24 2) $(tone 48000 2) "${exact[@]}" \
        "${x264[@]}" "${aac[@]}" -movflags frag_keyframe+empty_moov+default_base_moof \
        frag_default_base_moof.mp4
}
make_frag_moov_first() {
    "${ff[@]}" $(video 160x90 24 2) $(tone 48000 2) "${exact[@]}" \
        "${x264[@]}" "${aac[@]}" -movflags frag_keyframe frag_moov_first.mp4
}
make_frag_long() {
    # Longer than the 5 s the loader reads ahead: seeks near its end jump
    # through the index. One key frame a second.
    "${ff[@]}" $(video 32x18 6 16) "${exact[@]}" -c:v libx264 -threads 1 -preset medium -crf 45 \
        -pix_fmt yuv420p -bf 0 -g 6 -keyint_min 6 -sc_threshold 0 -movflags frag_keyframe+empty_moov frag_long.mp4
}
make_smooth() {
    "${ff[@]}" $(video 160x90 24 2) $(tone 48000 2) "${exact[@]}" \
        "${x264[@]}" "${aac[@]}" -f ismv smooth.ismv
}
# Server manifests over smooth.ismv (video is its track 1, audio track 2),
# written by hand: no muxer writes the server manifest.
make_smooth_manifest() {
    cat > smooth_manifest.ism <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<smil xmlns="http://www.w3.org/2001/SMIL20/Language">
  <head>
    <meta name="clientManifestRelativePath" content="smooth.ismc"/>
  </head>
  <body>
    <switch>
      <video src="smooth.ismv" systemBitrate="120000">
        <param name="trackID" value="1" valuetype="data"/>
      </video>
      <audio src="smooth.ismv" systemBitrate="32000">
        <param name="trackID" value="2" valuetype="data"/>
      </audio>
    </switch>
  </body>
</smil>
XML
}
# Several encodings: the highest bit rate wins, names in other letter case.
make_smooth_variants() {
    cat > smooth_variants.ism <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<smil xmlns="http://www.w3.org/2001/SMIL20/Language">
  <body>
    <switch>
      <audio src="missing_audio.isma" systemBitrate="16000">
        <param name="trackID" value="2"/>
      </audio>
      <video src="missing_low.ismv" systemBitrate="60000">
        <param name="trackID" value="1"/>
      </video>
      <video src="smooth.ismv" systemBitrate="120000">
        <PARAM NAME="TrackId" name="TRACKID" value=" 1"/>
      </video>
      <video src="missing_tie.ismv" systemBitrate="120000">
        <param name="trackID" value="1"/>
      </video>
      <audio src="./smooth.ismv" systemBitrate="+32000kbps">
        <param name="bitrate" value="7"/>
        <param name="trackid" value="2"/>
      </audio>
    </switch>
  </body>
</smil>
XML
}

all=(h264_bframes.mp4 h264_faststart.mp4 hevc_hvc1.mp4 hevc_crop.mp4 hevc_sar.mp4
     mpeg4_part2.mp4 mp3_in_mp4.mp4 mp3_22khz.mp4 aac_only.m4a pcm_twos.mov
     pcm_sowt.mov ulaw.mov tx3g.mp4 mjpeg.mov raw_rgb24.mov yuv2.mov
     gst_h264_aac.mp4 frag_empty_moov.mp4 frag_default_base_moof.mp4
     frag_moov_first.mp4 smooth.ismv gst_fragmented.mp4 mp3_16khz.mp4
     raw_rgb24_odd.mov raw_argb.mov gst_twos24.mov lqt_raw16.mov lqt_twos8.mov
     lqt_lpcm.mov lqt_ulaw_stereo.mov frag_long.mp4 smooth_manifest.ism
     smooth_variants.ism)

files=("$@")
[ ${#files[@]} -gt 0 ] || files=("${all[@]}")

for f in "${files[@]}"; do
    f=$(basename "$f")
    "make_${f%.*}"
    case "$f" in
        *.ism) ;;  # XML, nothing for ffprobe to report
        *) python3 facts.py "$f" ;;
    esac
    printf '%-28s %7d bytes\n' "$f" "$(stat -c %s "$f")"
done
