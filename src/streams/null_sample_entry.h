// NullSampleEntry: the sample entry of a null-media track ("nmhd"), such as
// 3GPP timed text. It reads only the common fields and the child boxes.
// Owned by its trakBox; built on the parsing thread and not changed after.
#pragma once

#include "container/sample_entry.h"

class NullSampleEntry : public SampleEntry {
 public:
  NullSampleEntry(const Box& entryHeader, trakBox* owner);

  // Timed text as subtitles (subtitle_media_type.h); nothing else.
  HRESULT GetMediaType(int index, CMediaType* mediaType, IAsyncReader* reader) override;
};
