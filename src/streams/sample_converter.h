// Sample converters: between the byte source and an output sample for the
// tracks whose bytes must change on the way downstream. CBaseSampleConverter
// is the interface; CYUY2SampleConverter turns "yuv2" 4:2:2 video (signed
// chroma, 0 = no colour) into YUY2 (chroma biased by 128);
// CRGBSampleConverter turns QuickTime's raw RGB into the platform's RGB24 or
// RGB32; CPcmSampleConverter puts uncompressed sound into the byte order and
// sign the PCM and float types mean.
//
// Owned by one output pin and called only from its worker thread.
#pragma once

#include "container/byte_buffer.h"
#include "platform/async_reader.h"
#include "platform/media_type.h"
#include "streams/pcm_layout.h"

#include <memory>

class trakBox;

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
  // The bytes Convert writes for a stored sample of `length` bytes.
  virtual LONG OutputLength(LONG length) const { return length; }

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

// The padded frame of the platform's RGB types: rows of whole pixels padded
// to 4 bytes. 0 when it does not fit 31 bits.
LONG RgbFrameBytes(LONG width, LONG height, WORD depth);

class CRGBSampleConverter final : public CBaseSampleConverter {
 public:
  // `depth` 24 (R,G,B) or 32 (A,R,G,B), rows top-down and unpadded as
  // QuickTime stores them; written bottom-up as B,G,R or B,G,R,A in padded
  // rows, as the RGB types lay frames out.
  CRGBSampleConverter(LONG width, LONG height, WORD depth);

  // A stored frame shorter than the picture leaves the missing rows zero;
  // bytes past it are ignored. A read failure is returned.
  HRESULT Convert(IAsyncReader* source, LONGLONG position, BYTE* destination, LONG length) override;
  LONG OutputLength(LONG) const override { return RgbFrameBytes(m_width, m_height, m_depth); }

 private:
  CBuffer m_staging;
  LONG m_width;
  LONG m_height;
  WORD m_depth;
};

class CPcmSampleConverter final : public CBaseSampleConverter {
 public:
  explicit CPcmSampleConverter(PcmByteOp op) : m_op(op) {}

  HRESULT Convert(IAsyncReader* source, LONGLONG position, BYTE* destination, LONG length) override;

  PcmByteOp Op() const { return m_op; }

 private:
  PcmByteOp m_op;
};

// The converter an output pin needs for `track` once connected with
// `connected`, or null when the bytes go as stored: "yuv2" video always,
// raw RGB video connected as RGB24/RGB32, and uncompressed sound connected
// as PCM or IEEE float whose layout needs one. `videoRenderer` says the
// downstream filter is a video renderer. E_OUTOFMEMORY in *result when one
// cannot be made.
std::unique_ptr<CBaseSampleConverter> CreateSampleConverter(trakBox& track, const AM_MEDIA_TYPE& connected,
                                                            bool videoRenderer, HRESULT* result);
