// The sample-entry factory the parse context uses: the entry class for a
// track's media kind.
#pragma once

#include "container/sample_entry.h"

// Media kind 1 (video) gives a VideoSampleEntry, 2 (sound) an
// AudioSampleEntry, 4 (null media) a NullSampleEntry; 0 (no media header)
// and 3 (hint) a plain SampleEntry. Null when memory runs out. Matches
// SampleEntryFactory.
SampleEntry* CreateSampleEntry(DWORD mediaKind, const Box& entryHeader, trakBox* track);
