// The media type record and CMediaType, the value class that owns one.
//
// Ownership rules: the format block of an AM_MEDIA_TYPE comes from
// CoTaskMemAlloc and belongs to the record; pUnk holds one reference.
// FreeMediaType releases both; CopyMediaType duplicates both.
#pragma once

#include "platform/unknown.h"

typedef struct _AMMediaType {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;
} AM_MEDIA_TYPE;

// Frees the format block and releases pUnk; the record itself stays.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees a record made by CreateMediaType (or handed out by an enumerator).
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// A task-memory copy of *source, or null when memory runs out.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);
// Deep copy into a target whose previous contents are not freed.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);

// An AM_MEDIA_TYPE that frees its format block and pUnk when it goes. It adds
// no data, so an AM_MEDIA_TYPE* from an interface may be viewed as one.
class CMediaType : public AM_MEDIA_TYPE {
 public:
  CMediaType();
  explicit CMediaType(const GUID* majorType);
  CMediaType(const AM_MEDIA_TYPE& source, HRESULT* phr = nullptr);
  CMediaType(const CMediaType& source, HRESULT* phr = nullptr);
  ~CMediaType();

  CMediaType& operator=(const CMediaType& source);
  CMediaType& operator=(const AM_MEDIA_TYPE& source);
  // Type, subtype, format type and format bytes; the sample-size fields
  // repeat what the format says and are not compared.
  bool operator==(const CMediaType& other) const;
  bool operator!=(const CMediaType& other) const { return !(*this == other); }

  // Replaces the contents with a copy; E_OUTOFMEMORY leaves this type empty.
  HRESULT Set(const CMediaType& source);
  HRESULT Set(const AM_MEDIA_TYPE& source);

  BOOL IsValid() const;

  const GUID* Type() const { return &majortype; }
  void SetType(const GUID* type) { majortype = *type; }
  const GUID* Subtype() const { return &subtype; }
  void SetSubtype(const GUID* type) { subtype = *type; }
  const GUID* FormatType() const { return &formattype; }
  void SetFormatType(const GUID* type) { formattype = *type; }

  BOOL IsFixedSize() const { return bFixedSizeSamples; }
  BOOL IsTemporalCompressed() const { return bTemporalCompression; }
  ULONG GetSampleSize() const { return IsFixedSize() ? lSampleSize : 0; }
  // 0 makes the samples variable-sized.
  void SetSampleSize(ULONG size);
  void SetVariableSize() { bFixedSizeSamples = FALSE; }
  void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }

  BYTE* Format() const { return pbFormat; }
  ULONG FormatLength() const { return cbFormat; }
  // Copies `length` bytes as the format block; FALSE when memory runs out.
  BOOL SetFormat(const BYTE* format, ULONG length);
  void ResetFormatBuffer();
  // A format block of `length` bytes, contents undefined; null when memory
  // runs out (a larger old block is kept and returned instead).
  BYTE* AllocFormatBuffer(ULONG length);
  // As AllocFormatBuffer, keeping the leading bytes of the old block.
  BYTE* ReallocFormatBuffer(ULONG length);

  // Zeroes the record as a fixed-size type of sample size 1 without freeing
  // anything: it is also used on records whose contents are not ours.
  void InitMediaType();

  // TRUE when every field that `partial` specifies (non-null GUIDs; the
  // format block when its format type is given) equals ours.
  BOOL MatchesPartial(const CMediaType* partial) const;
  // TRUE when the major type or the format type is left open.
  BOOL IsPartiallySpecified() const;
};
static_assert(sizeof(CMediaType) == sizeof(AM_MEDIA_TYPE));
