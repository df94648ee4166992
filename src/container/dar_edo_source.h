// CDarEdoSource: one byte stream being demultiplexed, with its parse context
// (movie box, movie header, compressed header) and the tracks kept from it.
//
// Built and parsed on the thread that connects the filter; afterwards its
// fields do not change, and the tracks guard their own tables. The source
// owns its tracks, boxes and compressed header, and holds one reference on
// its reader.
#pragma once

#include "container/box.h"
#include "container/cmov_box.h"
#include "container/growable_array.h"
#include "container/mvhd_box.h"
#include "container/sample_entry.h"
#include "container/trak_box.h"
#include "platform/unknown.h"

#include <memory>
#include <vector>

class CDarEdoSource {
 public:
  // `wantedTrackId` 0 keeps every track; `entryFactory` builds each track's
  // sample entry (the streams layer's, or plain entries).
  CDarEdoSource(IAsyncReader* reader, DWORD wantedTrackId, SampleEntryFactory entryFactory = CreatePlainSampleEntry);
  CDarEdoSource(const CDarEdoSource&) = delete;
  CDarEdoSource& operator=(const CDarEdoSource&) = delete;
  virtual ~CDarEdoSource();

  // The top-level walk: finds the first "moov" and parses it with its
  // tracks. S_OK when the source ends without one (no tracks then). Raises
  // ArrayError(E_OUTOFMEMORY) when the track list cannot grow.
  HRESULT ParseFile();
  // Reads the fragment random-access index at the end of the source into
  // the kept tracks (random_access_index.cc). S_OK without one, or while
  // the source is still arriving; a failure of Length is returned.
  HRESULT FindMovieFragmentRandomAccess();

  ULONG TrackCount() const { return tracks.Count(); }
  // Raises ArrayError(E_INVALIDARG) outside the count.
  trakBox* Track(ULONG index) const { return tracks[index]; }
  // A kept track by its ID, or null.
  trakBox* FindTrack(DWORD trackId) const;

  std::unique_ptr<cmovBox> compressedHeader;
  // The first "moov" of the file (header only).
  std::unique_ptr<Box> movieBox;
  // The first "moov" inside an expanded compressed header.
  std::unique_ptr<Box> innerMovieBox;
  std::unique_ptr<mvhdBox> movieHeader;
  // Set when an "mvex" was walked to its end.
  DWORD fragmented = 0;
  // The whole fragmented movie's duration from "mehd" (100-ns), 0 without.
  LONGLONG fragmentDurationRef = 0;
  // Owned, in file order.
  GrowableArray<trakBox*> tracks{kTrackListGrowthStep};
  // Where boxes are read from; a compressed header's expanded bytes stand in
  // for the file while they are parsed.
  ComPtr<IAsyncReader> reader;
  DWORD wantedTrackId = 0;
  // The top-level walk's counters.
  LONGLONG position = 0;
  LONGLONG remaining = 0;

 private:
  static constexpr ULONG kTrackListGrowthStep = 16;

  // Child handlers (movie_parser.cc): (position, the container's
  // remaining, the child header).
  HRESULT ParseMovie(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseMovieHeader(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseCompressedMovie(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseCompressorType(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseCompressedMovieData(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseTrack(LONGLONG* position, LONGLONG* remaining, Box& child);
  // "mvex" and its "trex" (movie_extends.cc).
  HRESULT ParseMovieExtends(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseTrackExtends(LONGLONG* position, LONGLONG* remaining, Box& child);
  HRESULT ParseMovieExtendsHeader(LONGLONG* position, LONGLONG* remaining, Box& child);
  // "tfra" inside "mfra" (random_access_index.cc).
  HRESULT ParseTrackFragmentRandomAccess(LONGLONG* position, LONGLONG* remaining, Box& child);

  SampleEntryFactory entryFactory_;
  // Non-zero while an expanded compressed header is being parsed: one
  // nested inside it is not expanded again.
  int expansionDepth_ = 0;
  // Where the index boxes read so far found a "moof" header, ascending:
  // every track's index names the same fragments, and each header costs a
  // read of its own. Kept only while the index is read.
  std::vector<LONGLONG> checkedFragments_;
};
