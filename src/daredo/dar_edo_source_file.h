// CDarEdoSourceFile: the byte source the filter opens itself for a media
// file that a manifest names: a local file, a "file://" location, or an
// http, https or ftp URL. Synchronous reads only; the filter always wraps it
// in a CBufferedAsyncReader.
//
// Threads: m_lock makes SyncRead and Length atomic with respect to each
// other. BeginFlush and EndFlush take no lock: for a URL they make a read
// waiting on the network return VFW_E_WRONG_STATE, and later reads fail the
// same way until EndFlush, so that a Stop or a seek never waits on a
// stalled server. A file's reads do not wait, and its flush does nothing.
#pragma once

#include "container/dar_edo_source.h"
#include "platform/critical_section.h"
#include "platform/sync_byte_source.h"

#include <memory>
#include <string>

class CDarEdoSourceFile final : public CSyncByteSource {
 public:
  // The result is written only on failure: the open's error
  // (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), INET_E_RESOURCE_NOT_FOUND ...).
  CDarEdoSourceFile(LPCWSTR location, HRESULT* phr);

  // Answers IAsyncReader only, not IBufferedAsyncReader. S_FALSE for a short
  // read, and for a read at the end with nothing read.
  HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
  // Both lengths are the whole size, also for a URL.
  HRESULT Length(LONGLONG* total, LONGLONG* available) override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

  bool IsUrl() const { return m_isUrl; }

 private:
  ~CDarEdoSourceFile() override = default;

  bool m_isUrl = false;
  ComPtr<IAsyncReader> m_reader;  // null when the open failed
  CCritSec m_lock;
};

// A manifest's media file as a parse source: a CDarEdoSourceFile for
// `location` under a new CBufferedAsyncReader (which holds the only
// reference to it), in a CDarEdoSource that keeps only `trackId`.
HRESULT CreateManifestSource(const std::wstring& location, DWORD trackId, std::unique_ptr<CDarEdoSource>* out);
