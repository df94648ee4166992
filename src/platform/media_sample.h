// CMediaSample: one buffer of an allocator with its times and flags.
//
// The sample's reference count starts at 0 in the allocator's free list;
// GetBuffer hands it out with one reference, and the last Release gives it
// back to the allocator (it is never deleted by Release). Only the thread
// that holds the sample touches its fields.
#pragma once

#include "platform/sample_interfaces.h"

#include <atomic>

class CBaseAllocator;

class CMediaSample : public IMediaSample, public CBaseObject {
 public:
  // `buffer` of `length` bytes is not owned: it belongs to the allocator.
  CMediaSample(const char* name, CBaseAllocator* allocator, HRESULT* phr, BYTE* buffer = nullptr,
               LONG length = 0);
  ~CMediaSample() override;

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetPointer(BYTE** buffer) override;
  LONG GetSize() override { return m_cbBuffer; }
  HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
  HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
  HRESULT IsSyncPoint() override { return (m_dwFlags & kSyncPoint) ? S_OK : S_FALSE; }
  HRESULT SetSyncPoint(BOOL isSyncPoint) override;
  HRESULT IsPreroll() override { return (m_dwFlags & kPreroll) ? S_OK : S_FALSE; }
  HRESULT SetPreroll(BOOL isPreroll) override;
  LONG GetActualDataLength() override { return m_lActual; }
  HRESULT SetActualDataLength(LONG length) override;
  HRESULT GetMediaType(AM_MEDIA_TYPE** mediaType) override;
  HRESULT SetMediaType(AM_MEDIA_TYPE* mediaType) override;
  HRESULT IsDiscontinuity() override { return (m_dwFlags & kDiscontinuity) ? S_OK : S_FALSE; }
  HRESULT SetDiscontinuity(BOOL isDiscontinuity) override;
  HRESULT GetMediaTime(LONGLONG* start, LONGLONG* stop) override;
  HRESULT SetMediaTime(LONGLONG* start, LONGLONG* stop) override;

  // Points the sample at another buffer (allocators that lend memory).
  HRESULT SetPointer(BYTE* buffer, LONG length);

 protected:
  friend class CBaseAllocator;

  static constexpr DWORD kSyncPoint = 0x01;
  static constexpr DWORD kPreroll = 0x02;
  static constexpr DWORD kDiscontinuity = 0x04;
  static constexpr DWORD kTypeChanged = 0x08;
  static constexpr DWORD kTimeValid = 0x10;
  static constexpr DWORD kMediaTimeValid = 0x20;
  static constexpr DWORD kStopValid = 0x100;

  void SetFlag(DWORD flag, BOOL on) { m_dwFlags = on ? (m_dwFlags | flag) : (m_dwFlags & ~flag); }

  DWORD m_dwFlags = 0;
  BYTE* m_pBuffer;
  LONG m_lActual = 0;
  LONG m_cbBuffer;
  CBaseAllocator* m_pAllocator;  // not reference-counted: the allocator outlives its samples
  REFERENCE_TIME m_Start = 0;
  REFERENCE_TIME m_End = 0;
  LONGLONG m_MediaStart = 0;
  LONGLONG m_MediaEnd = 0;
  AM_MEDIA_TYPE* m_pMediaType = nullptr;
  std::atomic<LONG> m_cRef{0};
};
