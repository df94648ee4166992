// Sample converters: between the byte source and an output sample for the
// tracks whose bytes must change on the way downstream. CBaseSampleConverter
// is the interface; CYUY2SampleConverter turns "yuv2" 4:2:2 video (signed
// chroma, 0 = no colour) into YUY2 (chroma biased by 128).
//
// Owned by one output pin and called only from its worker thread.
#pragma once

#include "container/byte_buffer.h"
#include "platform/async_reader.h"
#include "platform/media_type.h"

class CBaseSampleConverter {
 public:
  CBaseSampleConverter() = default;
  CBaseSampleConverter(const CBaseSampleConverter&) = delete;
  CBaseSampleConverter& operator=(const CBaseSampleConverter&) = delete;
  virtual ~CBaseSampleConverter() = default;

  // Copies each type given; a null one leaves its field as it was.
  virtual HRESULT SetMediaTypes(const CMediaType* input, const CMediaType* output);
  // Reads `length` bytes at `position` of `source` into `destination`,
  // converted. The base converts nothing: E_NOTIMPL.
  virtual HRESULT Convert(IAsyncReader* source, LONGLONG position, BYTE* destination, LONG length);

  const CMediaType& InputType() const { return m_inputType; }
  const CMediaType& OutputType() const { return m_outputType; }

 protected:
  CMediaType m_inputType;
  CMediaType m_outputType;
};

class CYUY2SampleConverter final : public CBaseSampleConverter {
 public:
  // `staged`: the destination belongs to a video renderer, whose buffers
  // may be slow to read back; the bytes are then read into system memory
  // and the destination is only written.
  explicit CYUY2SampleConverter(bool staged) : m_staged(staged ? 1 : 0) {}

  // S_OK also after a short read: bytes the read left alone are converted
  // like the others. A read failure is returned.
  HRESULT Convert(IAsyncReader* source, LONGLONG position, BYTE* destination, LONG length) override;

  bool IsStaged() const { return m_staged != 0; }

 private:
  // Grows to the largest sample once; only used when staged.
  CBuffer m_staging;
  BYTE m_staged;
};
