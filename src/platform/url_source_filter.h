// CUrlSourceFilter: the asynchronous source for an http, https or ftp URL.
// It is the file source with a CUrlByteSource behind its pin, so a
// downstream pin reads a URL as it reads a file: the same "Output" pin,
// IAsyncReader, subtype detection (".ism" gives "VISM") and GetCurFile
// (the URL as loaded). A flush of the pin reaches the URL source, so a read
// waiting on the network returns.
#pragma once

#include "platform/async_file_source.h"

inline constexpr CLSID CLSID_URLReader = {0xE436EBB6, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

class CUrlSourceFilter final : public CAsyncFileSource {
 public:
  static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);

 private:
  CUrlSourceFilter(IUnknown* outer, HRESULT* phr);
  // Any location OpenLocation takes; a local one opens as a file.
  HRESULT OpenByteSource(const std::wstring& fileName, IAsyncReader** out) override;
};
