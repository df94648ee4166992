// File-type detection: which media type a byte stream has and which source
// filter reads it. Registered check bytes come first (the values "0",
// "1", ... of "Media Type\{major}\{subtype}"), then the registered
// extension ("Media Type\Extensions\.ext"), then the built-in stand-ins
// for what the module registers, so that files are recognised before
// anything is registered.
//
// A check-byte string is one or more groups "offset,length,mask,value"
// (decimal offset, negative counting from the end; decimal length; mask and
// value in hex, an empty mask meaning all ones): every group of a string
// must match, any one string of a subtype is enough.
#pragma once

#include "platform/async_reader.h"

#include <string>

struct DetectedFileType {
  GUID majortype = GUID_NULL;
  GUID subtype = GUID_NULL;
  CLSID sourceFilter = GUID_NULL;
};

// False when nothing knows the stream; `reader` may be null (extension only).
bool DetectFileType(const std::wstring& fileName, IAsyncReader* reader, DetectedFileType* out);

// Whether `reader` holds what the check-byte string describes; a malformed
// string matches nothing. `length` is the stream's size.
bool MatchCheckBytes(const std::wstring& pattern, IAsyncReader* reader, LONGLONG length);
