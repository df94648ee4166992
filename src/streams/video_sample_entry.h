// VideoSampleEntry: the sample entry of a video track ("vmhd"): the visual
// fixed fields, the pixel aspect ratio from "pasp", and for "mp4v" the
// picture size and aspect read from the MPEG-4 video object layer header in
// the decoder configuration.
//
// Owned by its trakBox; built and read on the parsing thread. Afterwards
// only the one-time media-type probes change `width`, `height`,
// `codecConfig` and `dimensionsProbed`, under the track's tableLock.
#pragma once

#include "container/sample_entry.h"

class VideoSampleEntry : public SampleEntry {
 public:
  VideoSampleEntry(const Box& entryHeader, trakBox* owner);

  // The common fields, then the 70 bytes of the visual sample entry.
  HRESULT ReadFixedFields(IAsyncReader* reader, LONGLONG* position, LONGLONG* remaining) override;
  // The ES descriptor; for "mp4v" also the video object layer header, whose
  // result is kept in `lastResult`.
  HRESULT OnEsds(const Box& child, const BYTE* data, LONGLONG size) override;
  HRESULT OnPasp(const Box& child, const BYTE* data, LONGLONG size) override;
  // The video list (video_media_type.h): the first request of an H.265
  // entry without a picture size probes for it first.
  HRESULT GetMediaType(int index, CMediaType* mediaType, IAsyncReader* reader) override;

  static constexpr size_t kCompressorNameSize = 32;

  WORD width = 0;
  WORD height = 0;
  // Pixels per inch, 16.16 fixed point.
  DWORD horizResolution = 0;
  DWORD vertResolution = 0;
  WORD frameCount = 0;
  // As stored: a length byte, then the name; not interpreted.
  BYTE compressorName[kCompressorNameSize] = {};
  WORD depth = 0;
  BYTE hasPixelAspect = 0;
  // Horizontal : vertical pixel spacing.
  DWORD pixelAspectH = 1;
  DWORD pixelAspectV = 1;
  // Set once a bitstream probe for missing parameters has run.
  BYTE dimensionsProbed = 0;
};
