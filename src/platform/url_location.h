// Locations: a local path, a "file://" location, or an http, https or ftp
// URL. What opens each as a byte source, and how a relative location is
// resolved against the one it was found in.
#pragma once

#include "platform/async_reader.h"

#include <string>

// True when `location` begins with "http:", "https:" or "ftp:", in any
// letter case.
bool IsUrlLocation(const std::wstring& location);

// The path a local location names: "file://" (any case) is dropped and
// nothing else is undone, so "file:///srv/a.mp4" is "/srv/a.mp4".
std::wstring LocalPathOfLocation(const std::wstring& location);

// A URL through CUrlByteSource, anything else as a local file.
HRESULT OpenLocation(const std::wstring& location, IAsyncReader** out);

// `relative` resolved against `base`, as a browser would for a URL base
// (nothing is percent-encoded or decoded), and against the base's folder for
// a local path. A relative location that is itself a URL or an absolute
// path stands as it is. HRESULT_FROM_WIN32(ERROR_INTERNET_INVALID_URL) when
// the URLs do not combine, ERROR_INSUFFICIENT_BUFFER when the result has
// 1024 characters or more.
HRESULT CombineLocation(const std::wstring& base, const std::wstring& relative, std::wstring* out);
