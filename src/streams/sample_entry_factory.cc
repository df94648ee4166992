#include "streams/sample_entry_factory.h"

#include "container/trak_box.h"
#include "streams/audio_sample_entry.h"
#include "streams/null_sample_entry.h"
#include "streams/video_sample_entry.h"

#include <new>

SampleEntry* CreateSampleEntry(DWORD mediaKind, const Box& entryHeader, trakBox* track) {
  switch (mediaKind) {
    case kMediaKindVideo:
      return new (std::nothrow) VideoSampleEntry(entryHeader, track);
    case kMediaKindSound:
      return new (std::nothrow) AudioSampleEntry(entryHeader, track);
    case kMediaKindNull:
      return new (std::nothrow) NullSampleEntry(entryHeader, track);
    default:
      return new (std::nothrow) SampleEntry(entryHeader, track, kSampleEntryPlain);
  }
}
