// The media types of a video sample entry: the subtype chosen from the
// video table for each list index, and the one builder that writes the
// VIDEOINFOHEADER or VIDEOINFOHEADER2 block with the extra bytes after its
// bitmap header.
//
// Called on whatever thread asks the track for its media types; the probes
// it may run change the entry, so callers hold the track's tableLock
// (trakBox::GetTrackMediaType does).
#pragma once

#include "platform/guid.h"
#include "platform/hresult.h"
#include "platform/media_type.h"

class VideoSampleEntry;

// S_OK with `mediaType` filled; VFW_S_NO_MORE_ITEMS past the entry's list;
// E_INVALIDARG for a negative index; E_OUTOFMEMORY when the block cannot be
// allocated; the failure of a probe read that the choice depends on.
HRESULT GetVideoMediaType(VideoSampleEntry& entry, int index, CMediaType* mediaType);

// What one list entry puts into the format block besides the entry's own
// fields.
struct VideoFormatFields {
  GUID subtype;
  // biCompression: a little-endian FourCC, or BI_RGB.
  DWORD compression;
  const BYTE* extra;
  ULONG extraSize;
};

// Writes the whole media type: major type, subtype, and FORMAT_VideoInfo2
// with a VIDEOINFOHEADER2 when the entry knows its pixel aspect ratio, else
// FORMAT_VideoInfo with a VIDEOINFOHEADER. Bit rate, frame duration and
// image size come from the entry's track (0 without one).
HRESULT WriteVideoFormat(const VideoSampleEntry& entry, const VideoFormatFields& fields, CMediaType* mediaType);
