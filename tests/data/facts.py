#!/usr/bin/env python3
"""Writes FILE.facts.json for each FILE from ffprobe's view of it.

The facts let tests compare our parse with a reading we did not compute.
ffprobe runs twice: once as it normally reads (edit lists applied) and once
with -ignore_editlist 1, which gives the raw decode and composition times of
the sample tables. Packet rows follow ffprobe's own read order.

Usage: facts.py FILE...
"""
import json
import subprocess
import sys

PACKET_COLUMNS = ["stream", "pos", "size", "dts", "pts", "duration", "flags",
                  "raw_dts", "raw_pts"]

# Stream fields kept as ffprobe gives them (numbers stay numbers).
STREAM_FIELDS = ["index", "codec_type", "codec_name", "codec_tag_string",
                 "profile", "width", "height", "coded_width", "coded_height",
                 "sample_aspect_ratio", "display_aspect_ratio", "pix_fmt",
                 "sample_fmt", "sample_rate", "channels", "bits_per_sample",
                 "bits_per_raw_sample", "time_base", "start_pts",
                 "duration_ts", "nb_frames"]
INT_FIELDS = {"sample_rate", "nb_frames", "bits_per_raw_sample"}


def probe(path, *extra):
    out = subprocess.run(
        ["ffprobe", "-v", "error", *extra, "-show_format", "-show_streams",
         "-show_data", "-show_packets", "-of", "json", path],
        check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def hexdump_to_hex(dump, size):
    """ffprobe prints extradata as 'OFFSET: xxxx xxxx ...  ascii' lines."""
    digits = []
    for line in dump.splitlines():
        if not line.strip():
            continue
        _, rest = line.split(":", 1)
        # 8 groups of 4 hex digits with single spaces: 39 columns after ': '.
        digits.append(rest[1:40].replace(" ", ""))
    text = "".join(digits).lower()
    if len(text) != 2 * size:
        raise ValueError(f"extradata dump gives {len(text) // 2} bytes, "
                         f"ffprobe says {size}")
    return text


def stream_facts(s):
    out = {}
    if "id" in s:
        out["id"] = int(s["id"], 16)
    for key in STREAM_FIELDS:
        if key in s:
            value = s[key]
            if key in INT_FIELDS:
                value = int(value)
            out[key] = value
    out["extradata"] = hexdump_to_hex(s.get("extradata", ""),
                                      s.get("extradata_size", 0))
    language = s.get("tags", {}).get("language")
    if language is not None:
        out["language"] = language
    return out


def packet_rows(normal, raw):
    raw_times = {}
    for p in raw["packets"]:
        raw_times[(p["stream_index"], int(p["pos"]))] = (p.get("dts"), p.get("pts"))
    rows = []
    seen = set()
    for p in normal["packets"]:
        key = (p["stream_index"], int(p["pos"]))
        seen.add(key)
        raw_dts, raw_pts = raw_times.get(key, (None, None))
        rows.append([p["stream_index"], int(p["pos"]), int(p["size"]),
                     p.get("dts"), p.get("pts"), p.get("duration"),
                     p["flags"], raw_dts, raw_pts])
    # Samples that only the raw reading delivers (cut away by an edit list).
    for p in raw["packets"]:
        key = (p["stream_index"], int(p["pos"]))
        if key not in seen:
            rows.append([p["stream_index"], int(p["pos"]), int(p["size"]),
                         None, None, p.get("duration"), p["flags"],
                         p.get("dts"), p.get("pts")])
    return rows


def facts(path):
    normal = probe(path)
    raw = probe(path, "-ignore_editlist", "1")
    fmt = normal["format"]
    tags = fmt.get("tags", {})
    head = {
        "file": path,
        "size": int(fmt["size"]),
        "format_name": fmt["format_name"],
        "major_brand": tags.get("major_brand"),
        "compatible_brands": tags.get("compatible_brands"),
        "streams": [stream_facts(s) for s in normal["streams"]],
    }
    rows = packet_rows(normal, raw)
    # One packet per line keeps the file small and diffable.
    text = json.dumps(head, indent=1)[:-2]
    text += ',\n "packet_columns": ' + json.dumps(PACKET_COLUMNS)
    text += ',\n "packets": [\n'
    text += ",\n".join("  " + json.dumps(r, separators=(",", ":")) for r in rows)
    text += "\n ]\n}\n"
    return text


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    for path in argv[1:]:
        with open(path + ".facts.json", "w") as f:
            f.write(facts(path))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
