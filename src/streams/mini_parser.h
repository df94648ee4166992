// A parser that reads a codec's parameter sets from a byte stream fed to it
// piece by piece, and offers the media type they describe.
#pragma once

#include "platform/hresult.h"
#include "platform/wintypes.h"

class CMediaType;

class CMiniParser {
 public:
  virtual ~CMiniParser() = default;

  // Adds bytes of the stream: S_OK once the parameter sets are complete,
  // S_FALSE while more bytes are needed, an error for a malformed stream.
  virtual HRESULT Feed(const BYTE* data, LONG size) = 0;

  // Fills `mediaType` from the parameter sets; fails until Feed has returned
  // S_OK.
  virtual HRESULT GetMediaType(CMediaType* mediaType) = 0;
};
