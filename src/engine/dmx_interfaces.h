// The demultiplexer's private interfaces, on their own so that a program
// using the filter can include them without the engine's classes.
#pragma once

#include "engine/video_rotation.h"
#include "platform/async_reader.h"

// The private identifier of a demultiplexer filter's own IMediaSeeking.
inline constexpr IID IID_IDmxFilterSeeking = {
    0x52A0E8C3, 0x3F17, 0x4B6D, {0x9C, 0x2A, 0x7E, 0x05, 0xD1, 0x64, 0xB8, 0x2F}};

inline constexpr IID IID_IBufferedAsyncReader = {
    0x7C1D3A52, 0x94E6, 0x4F0B, {0xA8, 0x3C, 0x51, 0x2E, 0x9D, 0x47, 0x60, 0xB3}};

// IAsyncReader plus access to the unbuffered source and to an independent
// buffered reader over it.
struct IBufferedAsyncReader : public IAsyncReader {
  // The source below the cache, with a reference added.
  virtual HRESULT GetSourceReader(IAsyncReader** source) = 0;
  // A new buffered reader over the same source, with an empty cache.
  virtual HRESULT Clone(IBufferedAsyncReader** reader) = 0;

 protected:
  ~IBufferedAsyncReader() = default;
};
