// CChunkReader: the sample reads of one output pin, sized to the file's
// layout rather than to the sample. The samples of a chunk lie next to each
// other, and a muxer that interleaves finely puts the track's next chunk
// only a few bytes further on. So the first small sample of a chunk reads
// its chunk and the track's chunks that follow closely (at most
// kChunkWindowBytes, gaps of at most kChunkGapBytes) into the reader's own
// window, and the samples after it are copied from there. A sample of
// kDirectReadBytes or more, or one the window does not hold, is read
// straight into the caller's buffer with one source read.
//
// A window read that comes up short (the file shrank or was cut) is not
// kept: the request is read again on its own, so the caller sees the
// source's own short read and the samples before the cut still arrive.
//
// Threads: the pin's worker only; no lock. The window holds file bytes by
// absolute offset, so it stays valid across seeks and restarts.
#pragma once

#include "platform/async_reader.h"

#include <memory>

class trakBox;

class CChunkReader {
 public:
  // Reads of twice this took no less time on a one-hour small-sample file;
  // the window is resident for the whole run, per pin.
  static constexpr LONG kChunkWindowBytes = 128 * 1024;
  static constexpr LONG kDirectReadBytes = 32 * 1024;
  // Copying this many bytes of other tracks costs about what a read does.
  static constexpr LONG kChunkGapBytes = 8 * 1024;

  CChunkReader();
  ~CChunkReader();
  CChunkReader(const CChunkReader&) = delete;
  CChunkReader& operator=(const CChunkReader&) = delete;

  // Reads come from `source`, chunks are those of `track` (neither
  // counted; both outlive the pass). Forgets the window.
  void Start(IAsyncReader* source, trakBox* track);
  // The sample the next reads belong to and the offset its bytes start at.
  void SetSample(LONGLONG sample, LONGLONG offset);
  // `length` bytes at `position` into `buffer`: S_OK when every byte
  // arrived, otherwise the source's result.
  HRESULT Read(LONGLONG position, LONG length, BYTE* buffer);

 private:
  // Loads the window from the current sample on; false when it could not
  // or when it would hold no more than the request (the caller then reads
  // directly), with a source failure in *failure.
  bool FillWindow(LONGLONG neededEnd, HRESULT* failure);

  IAsyncReader* m_source = nullptr;
  trakBox* m_track = nullptr;
  LONGLONG m_sample = 0;
  LONGLONG m_sampleOffset = 0;
  // Whether the samples move forward; only then does reading ahead pay.
  bool m_forward = true;
  // Allocated at the first fill, kChunkWindowBytes long.
  std::unique_ptr<BYTE[]> m_window;
  // The file bytes [m_windowStart, m_windowEnd) held in m_window.
  LONGLONG m_windowStart = 0;
  LONGLONG m_windowEnd = 0;
};
