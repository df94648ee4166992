// The picture size of an H.265 entry written without one (width or height
// 0), read from the parameter sets. On success the entry's `width` and
// `height` become the display size (the coded size less the conformance
// window) and its `payload` becomes exactly one "hvcC" box built from those
// parameter sets, so that the private media type carries a well-formed
// configuration. On any other result the entry is unchanged.
//
// Called under the track's tableLock (the media-type request holds it).
#pragma once

#include "platform/hresult.h"

class VideoSampleEntry;

// From the entry's `codecConfig` (an hvcC record). S_OK, or the result of
// the record conversion or the parameter-set parse (kParameterSetsIncomplete
// when a set is missing).
HRESULT ProbeDimensionsFromConfig(VideoSampleEntry& entry);

// From samples 0 to 3 of the entry's track, gathered one after another with
// their 4-byte length prefixes turned into start codes, until the gathered
// bytes hold a VPS, an SPS and a PPS. A failed lookup, read or allocation
// ends the probe with its result; four samples without them give the last
// parse result.
HRESULT ProbeDimensionsFromSamples(VideoSampleEntry& entry);
