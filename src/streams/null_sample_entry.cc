#include "streams/null_sample_entry.h"

#include "streams/subtitle_media_type.h"

NullSampleEntry::NullSampleEntry(const Box& entryHeader, trakBox* owner)
    : SampleEntry(entryHeader, owner, kSampleEntryNull) {}

HRESULT NullSampleEntry::GetMediaType(int index, CMediaType* mediaType, IAsyncReader*) {
  return GetSubtitleMediaType(*this, index, mediaType);
}
