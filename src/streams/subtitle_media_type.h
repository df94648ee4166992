// The media type of a null-media entry: 3GPP timed text ("tx3g") is offered
// as UTF-8 subtitles with a SUBTITLEINFO naming the track's language.
#pragma once

#include "platform/hresult.h"
#include "platform/media_type.h"

class SampleEntry;

// Index 0 of a "tx3g" entry; VFW_S_NO_MORE_ITEMS for anything else,
// E_INVALIDARG for a negative index, E_OUTOFMEMORY when the block cannot be
// allocated.
HRESULT GetSubtitleMediaType(const SampleEntry& entry, int index, CMediaType* mediaType);
