// The MPEG-2 sequence header of an "hdv2" entry, which carries no decoder
// configuration: a decoder needs the sequence header (and its extensions)
// before the first picture, so it is taken from the first sample.
#pragma once

#include "platform/hresult.h"
#include "platform/wintypes.h"

#include <cstddef>

class VideoSampleEntry;

// Walks the start codes of `data`: the first sequence header (00 00 01 B3)
// is remembered, extensions (B5) are stepped over, and the walk stops at
// the first start code that is neither. True when a sequence header was
// seen; [*start, *start + *length) then runs from its start code up to the
// stopping start code, or to the end of the data.
bool FindMpeg2SequenceHeader(const BYTE* data, size_t size, size_t* start, size_t* length);

// Once per entry, and only while `codecConfig` is empty: reads sample 0
// and stores its sequence header in `codecConfig` as a 16-bit little-endian
// length followed by the header's bytes. Without a sequence header the
// entry's `lastResult` becomes VFW_S_NO_MORE_ITEMS and S_OK is returned; a
// failed lookup, read or allocation is returned.
HRESULT ProbeMpeg2SequenceHeader(VideoSampleEntry& entry);
