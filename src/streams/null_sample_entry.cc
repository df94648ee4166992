#include "streams/null_sample_entry.h"

NullSampleEntry::NullSampleEntry(const Box& entryHeader, trakBox* owner)
    : SampleEntry(entryHeader, owner, kSampleEntryNull) {}
