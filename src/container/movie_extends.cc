// "mvex" and "trex": the movie-extends box that marks a movie as
// fragmented, with each track's fragment defaults.
#include "container/box_walk.h"
#include "container/dar_edo_source.h"
#include "platform/fourcc.h"

#include <algorithm>

HRESULT CDarEdoSource::ParseMovieExtends(LONGLONG* position, LONGLONG* remaining, Box& child) {
  static constexpr ChildHandler<CDarEdoSource> kMovieExtendsChildren[] = {
      {FourCC("trex"), &CDarEdoSource::ParseTrackExtends},
      {FourCC("mehd"), &CDarEdoSource::ParseMovieExtendsHeader},
  };
  RETURN_IF_FAILED(ClaimChild(remaining, child));
  Box movieExtends(child);
  RETURN_IF_FAILED(WalkChildren(*this, kMovieExtendsChildren, reader.Get(), position, movieExtends));
  fragmented = 1;
  return S_OK;
}

HRESULT CDarEdoSource::ParseTrackExtends(LONGLONG* position, LONGLONG* remaining, Box& child) {
  FullBox box(child);
  RETURN_IF_FAILED(box.ReadVersionAndFlags(reader.Get(), position, remaining));
  RETURN_IF_FAILED(ClaimChild(remaining, box));
  BoxFieldReader fields = box.Fields(reader.Get(), position);
  DWORD trackId = 0;
  RETURN_IF_FAILED(fields.U32(&trackId));
  // A "trex" before its "trak", or for a track that was not kept, has no
  // track to give its defaults to.
  trakBox* track = FindTrack(trackId);
  if (track != nullptr) {
    DWORD defaults[4] = {};
    for (DWORD& value : defaults) RETURN_IF_FAILED(fields.U32(&value));
    CAutoLock lock(&track->tableLock);
    track->trexSampleDescriptionIndex = defaults[0];
    track->trexSampleDuration = defaults[1];
    track->trexSampleSize = defaults[2];
    track->trexSampleFlags = defaults[3];
    track->trexSeen = 1;
  }
  fields.SkipRest();
  return S_OK;
}

HRESULT CDarEdoSource::ParseMovieExtendsHeader(LONGLONG* position, LONGLONG* remaining, Box& child) {
  FullBox box(child);
  RETURN_IF_FAILED(box.ReadVersionAndFlags(reader.Get(), position, remaining));
  RETURN_IF_FAILED(ClaimChild(remaining, box));
  BoxFieldReader fields = box.Fields(reader.Get(), position);
  ULONGLONG duration = 0;
  RETURN_IF_FAILED(fields.VersionedU64(box.version, &duration));
  // The movie header comes first in every file written in practice; its
  // timescale is the fragment duration's.
  if (movieHeader) {
    fragmentDurationRef = DurationToReference(
        static_cast<LONGLONG>(std::min<ULONGLONG>(duration, INT64_MAX)), movieHeader->timescale);
  }
  fields.SkipRest();
  return S_OK;
}
