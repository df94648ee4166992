// The media types of a sound sample entry: the subtype chosen from the
// audio table for each list index, and the one builder that writes the
// WAVEFORMATEX block with its extra bytes. MPEG audio in "mp4a" gets its
// block from the first frame header instead, and "wma " the WAVEFORMATEX
// its writer stored.
//
// Some formats correct the entry's own fields on the way (channels and rate
// from the AudioSpecificConfig, the AMR constants, 8-bit µ-law and A-law);
// callers hold the track's tableLock (trakBox::GetTrackMediaType does).
#pragma once

#include "platform/hresult.h"
#include "platform/media_type.h"

class AudioSampleEntry;

// S_OK with `mediaType` filled; VFW_S_NO_MORE_ITEMS past the entry's list;
// E_INVALIDARG for a negative index; E_OUTOFMEMORY when the block cannot be
// allocated; E_FAIL for an MPEG audio frame header that cannot be read; a
// failure reading the first sample as it is.
HRESULT GetAudioMediaType(AudioSampleEntry& entry, int index, CMediaType* mediaType);
