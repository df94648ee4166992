// CAsyncFileSource: the asynchronous file source. After Load it has one
// output pin, "Output", that offers MEDIATYPE_Stream with the subtype found
// for the file and implements IAsyncReader (queued reads through CAsyncIo,
// synchronous reads directly). The downstream pin pulls; the source pushes
// nothing.
//
// Lock: m_lock is the filter and pin object lock (Load, connection, state);
// reads take none of it.
#pragma once

#include "platform/async_io.h"
#include "platform/base_filter.h"

#include <memory>
#include <string>

class CAsyncFileSource;

class CAsyncOutputPin final : public CBasePin, public IAsyncReader {
 public:
  CAsyncOutputPin(CAsyncFileSource* source, CCritSec* lock, HRESULT* phr);

  DECLARE_IUNKNOWN
  // Asking for IAsyncReader is what makes the connection complete.
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  // VFW_E_NO_TRANSPORT unless the input pin asked for IAsyncReader.
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT BreakConnect() override;
  HRESULT EndOfStream() override { return E_UNEXPECTED; }

  // IAsyncReader (BeginFlush/EndFlush serve IPin as well).
  HRESULT RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props, IMemAllocator** actual) override;
  // The sample's times are byte positions times UNITS; a request reaching
  // past the end is cut to the end of the file.
  HRESULT Request(IMediaSample* sample, DWORD_PTR user) override;
  HRESULT WaitForNext(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* user) override;
  HRESULT SyncReadAligned(IMediaSample* sample) override;
  HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
  HRESULT Length(LONGLONG* total, LONGLONG* available) override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

 private:
  // The byte range a sample asks for, cut at the end of the file.
  HRESULT RangeOf(IMediaSample* sample, LONGLONG* position, LONG* length, BYTE** buffer);

  CAsyncFileSource* m_source;
  bool m_queriedForAsyncReader = false;  // under the pin lock
};

class CAsyncFileSource : public CBaseFilter, public IFileSourceFilter, public IAMFilterMiscFlags {
 public:
  CAsyncFileSource(IUnknown* outer, HRESULT* phr);
  ~CAsyncFileSource() override;

  static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // One file per source: a second Load gives E_UNEXPECTED. The type is `mt`
  // when given, else MEDIATYPE_Stream with the subtype of DetectSubtype.
  HRESULT Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) override;
  HRESULT GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) override;
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

  // No pin until a file is loaded.
  int GetPinCount() override;
  CBasePin* GetPin(int n) override;

  // The subtype file-type detection finds for the file; GUID_NULL when
  // nothing knows it.
  static GUID DetectSubtype(const std::wstring& fileName, IAsyncReader* reader);

 protected:
  // For sources of other kinds of location, registered under `clsid`.
  CAsyncFileSource(const char* objectName, IUnknown* outer, REFCLSID clsid, HRESULT* phr);
  // The byte source behind a loaded name: a local file here.
  virtual HRESULT OpenByteSource(const std::wstring& fileName, IAsyncReader** out);

 private:
  friend class CAsyncOutputPin;

  CCritSec m_lock;
  CAsyncOutputPin m_pin;
  std::wstring m_fileName;
  CMediaType m_type;
  std::unique_ptr<CAsyncIo> m_io;  // set once by Load, before any pin use
};
