// The top level of a file and its movie box: ParseFile, "moov", "mvhd", the
// compressed movie header and the collection of tracks.
#include "container/box_walk.h"
#include "container/dar_edo_source.h"
#include "platform/fourcc.h"

#include <new>

namespace {

constexpr LONGLONG kTopLevelRemaining = INT64_MAX;
constexpr LONGLONG kCompressorFieldBytes = 4;

}  // namespace

HRESULT CDarEdoSource::ParseFile() {
  position = 0;
  remaining = kTopLevelRemaining;
  fragmented = 0;
  for (;;) {
    Box header;
    const HRESULT hr = header.ReadHeader(reader.Get(), &position, &remaining);
    if (hr != S_OK) return hr == S_FALSE ? S_OK : hr;
    if (header.type == FourCC("moov")) {
      const HRESULT movieResult = ParseMovie(&position, &remaining, header);
      if (fragmented) {
        for (ULONG i = 0; i < tracks.Count(); ++i) {
          trakBox* track = tracks.Data()[i];
          track->fragmentScanPosition = position;
          track->fragmentScanRemaining = remaining;
          track->isFragmented = 1;
          track->KeepMovieTables();
        }
      }
      return movieResult;
    }
    header.Skip(reader.Get(), &position, &remaining);
    if (remaining <= 0) return S_OK;
  }
}

HRESULT CDarEdoSource::ParseMovie(LONGLONG* position, LONGLONG* remaining, Box& child) {
  static constexpr ChildHandler<CDarEdoSource> kMovieChildren[] = {
      {FourCC("mvhd"), &CDarEdoSource::ParseMovieHeader},
      {FourCC("cmov"), &CDarEdoSource::ParseCompressedMovie},
      {FourCC("trak"), &CDarEdoSource::ParseTrack},
      {FourCC("mvex"), &CDarEdoSource::ParseMovieExtends},
  };
  std::unique_ptr<Box>& slot = compressedHeader ? innerMovieBox : movieBox;
  if (slot) return child.Skip(reader.Get(), position, remaining);
  RETURN_IF_FAILED(ClaimChild(remaining, child));
  slot.reset(new (std::nothrow) Box(child));
  if (!slot) return E_OUTOFMEMORY;
  return WalkChildren(*this, kMovieChildren, reader.Get(), position, *slot);
}

HRESULT CDarEdoSource::ParseMovieHeader(LONGLONG* position, LONGLONG* remaining, Box& child) {
  if (movieHeader) return child.Skip(reader.Get(), position, remaining);
  movieHeader.reset(new (std::nothrow) mvhdBox(child));
  if (!movieHeader) return E_OUTOFMEMORY;
  RETURN_IF_FAILED(movieHeader->ReadVersionAndFlags(reader.Get(), position, remaining));
  return movieHeader->ReadBody(reader.Get(), position, remaining);
}

HRESULT CDarEdoSource::ParseCompressedMovie(LONGLONG* position, LONGLONG* remaining, Box& child) {
  static constexpr ChildHandler<CDarEdoSource> kCompressedMovieChildren[] = {
      {FourCC("dcom"), &CDarEdoSource::ParseCompressorType},
      {FourCC("cmvd"), &CDarEdoSource::ParseCompressedMovieData},
  };
  // A compressed header inside an expanded one is not expanded again: each
  // level could multiply the memory by the deflate ratio.
  if (expansionDepth_ > 0) return child.Skip(reader.Get(), position, remaining);
  RETURN_IF_FAILED(ClaimChild(remaining, child));
  cmovBox* compressed = nullptr;
  try {
    compressed = new cmovBox(child);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  // A second compressed header replaces the first. Nothing refers to the
  // first any more: its expanded reader is reference counted, and the
  // tracks it produced were pointed back at the file.
  compressedHeader.reset(compressed);
  RETURN_IF_FAILED(WalkChildren(*this, kCompressedMovieChildren, reader.Get(), position, *compressed));
  for (ULONG i = 0; i < tracks.Count(); ++i) tracks.Data()[i]->SetReader(reader.Get());
  return S_OK;
}

HRESULT CDarEdoSource::ParseCompressorType(LONGLONG* position, LONGLONG* remaining, Box& child) {
  RETURN_IF_FAILED(ClaimChild(remaining, child));
  BoxFieldReader fields = child.Fields(reader.Get(), position);
  if (!fields.Fits(kCompressorFieldBytes)) return STG_E_INVALIDHEADER;
  RETURN_IF_FAILED(fields.U32(&compressedHeader->compressor));
  fields.SkipRest();
  return S_OK;
}

HRESULT CDarEdoSource::ParseCompressedMovieData(LONGLONG* position, LONGLONG* remaining, Box& child) {
  RETURN_IF_FAILED(ClaimChild(remaining, child));
  BoxFieldReader fields = child.Fields(reader.Get(), position);
  if (!fields.Fits(kCompressorFieldBytes)) return STG_E_INVALIDHEADER;
  DWORD expandedSize = 0;
  RETURN_IF_FAILED(fields.U32(&expandedSize));
  // Another compressor leaves the outer "moov" as the movie.
  if (compressedHeader->compressor != kZlibCompressor) {
    fields.SkipRest();
    return S_OK;
  }
  // The compressed size is the box's and untrusted: it must fit SyncRead's
  // 32-bit length and the source before a buffer is sized by it.
  const LONGLONG compressedSize = fields.Remaining();
  if (compressedSize > INT32_MAX) return E_OUTOFMEMORY;
  LONGLONG total = 0;
  LONGLONG available = 0;
  if (SUCCEEDED(reader->Length(&total, &available)) && compressedSize > total - std::min(*position, total)) {
    return S_FALSE;
  }
  CBuffer compressed;
  if (compressed.Assign(nullptr, static_cast<LONG>(compressedSize)) != S_OK) return E_OUTOFMEMORY;
  RETURN_IF_FAILED(fields.Bytes(compressed.Data(), static_cast<LONG>(compressedSize)));
  RETURN_IF_FAILED(compressedHeader->Expand(compressed.Data(), compressed.Length(), expandedSize));

  // The expanded movie is parsed with the same walk, from its own position
  // 0. The outer walk then resumes right after this box, so that the
  // fragment scan start stays a position in the file.
  const ComPtr<IAsyncReader> fileReader = reader;
  const LONGLONG outerPosition = this->position;
  const LONGLONG outerRemaining = this->remaining;
  const LONGLONG resumeAt = *position;
  const DWORD outerFragmented = fragmented;
  reader = ComPtr<IAsyncReader>(compressedHeader->ExpandedReader());
  ++expansionDepth_;
  const HRESULT hr = ParseFile();
  --expansionDepth_;
  // What the outer walk already knew about fragments still stands.
  fragmented |= outerFragmented;
  reader = fileReader;
  this->position = outerPosition;
  this->remaining = outerRemaining;
  *position = resumeAt;
  return hr;
}

HRESULT CDarEdoSource::ParseTrack(LONGLONG* position, LONGLONG* remaining, Box& child) {
  RETURN_IF_FAILED(ClaimChild(remaining, child));
  std::unique_ptr<trakBox> track;
  try {
    track = std::make_unique<trakBox>(child, reader.Get(), entryFactory_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  RETURN_IF_FAILED(track->ParseTrack(position));
  if (wantedTrackId != 0 && track->trackId != wantedTrackId) return S_OK;
  tracks.Append(track.get());
  track.release();
  return S_OK;
}
