// Conversions between wide text and the byte encodings that callers name by
// code page. This system keeps all narrow text in UTF-8, so the ANSI code page
// is UTF-8 here; the Latin-1 pages are kept for callers that ask for them.
#pragma once

#include "platform/wintypes.h"

#include <string>

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;
inline constexpr UINT CP_WINDOWS_1252 = 1252;
inline constexpr UINT CP_ISO_8859_1 = 28591;

bool IsSupportedCodePage(UINT codePage);

// Appends `length` wide characters converted to `codePage`. Characters that
// the page cannot hold become '?'. False only for an unsupported page.
bool AppendWideAsCodePage(UINT codePage, const WCHAR* text, size_t length, std::string* out);

// UTF-8 to and from wide text, whole strings.
std::string Utf8FromWide(const std::wstring& text);
std::wstring WideFromUtf8(const std::string& text);

// Appends `length` bytes of `codePage` text as wide characters. Invalid UTF-8
// sequences become U+FFFD. False only for an unsupported page.
bool AppendCodePageAsWide(UINT codePage, const char* text, size_t length, std::wstring* out);
