// What a program needs to use the Verdant ISO Demultiplexer from outside
// the module: its class identifier, name and input subtype, and the private
// interfaces it offers. Installed with the platform's headers.
#pragma once

#include "engine/dmx_interfaces.h"
#include "platform/guid.h"

inline constexpr CLSID CLSID_DarEdo = {0xD4E5A1B2, 0x7C3F, 0x4E8A, {0x9B, 0x61, 0x2F, 0x0C, 0x8D, 0x3E, 0x5A, 0x74}};

// Our own subtype for an upstream that knows the input is of the MP4 family.
inline constexpr GUID MEDIASUBTYPE_IsoMp4Family = {
    0xD4E5A1B3, 0x7C3F, 0x4E8A, {0x9B, 0x61, 0x2F, 0x0C, 0x8D, 0x3E, 0x5A, 0x74}};

inline constexpr wchar_t kDarEdoName[] = L"Verdant ISO Demultiplexer";
inline constexpr DWORD kDarEdoMerit = 0x00800102;
