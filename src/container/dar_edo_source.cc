#include "container/dar_edo_source.h"

CDarEdoSource::CDarEdoSource(IAsyncReader* source, DWORD wantedTrack, SampleEntryFactory entryFactory)
    : reader(source), wantedTrackId(wantedTrack), entryFactory_(entryFactory) {}

CDarEdoSource::~CDarEdoSource() {
  for (ULONG i = 0; i < tracks.Count(); ++i) delete tracks.Data()[i];
  tracks.Free();
  movieHeader.reset();
  innerMovieBox.reset();
  movieBox.reset();
  compressedHeader.reset();
  reader.Reset();
}

trakBox* CDarEdoSource::FindTrack(DWORD trackId) const {
  for (ULONG i = 0; i < tracks.Count(); ++i) {
    if (tracks.Data()[i]->trackId == trackId) return tracks.Data()[i];
  }
  return nullptr;
}
