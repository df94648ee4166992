#include "platform/code_page.h"

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

bool IsUtf8Page(UINT codePage) { return codePage == CP_ACP || codePage == CP_UTF8; }

void AppendUtf8(uint32_t code, std::string* out) {
  // Lone surrogates and values past Unicode cannot be encoded.
  if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = '?';
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at text[*i], advancing *i past what was used.
uint32_t DecodeUtf8(const unsigned char* text, size_t length, size_t* i) {
  const unsigned char lead = text[(*i)++];
  if (lead < 0x80) return lead;
  int extra;
  uint32_t code;
  uint32_t minimum;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, code = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, code = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, code = lead & 0x07, minimum = 0x10000;
  } else {
    return kReplacement;
  }
  for (int k = 0; k < extra; ++k) {
    if (*i >= length || (text[*i] & 0xC0) != 0x80) return kReplacement;
    code = (code << 6) | (text[(*i)++] & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return kReplacement;
  return code;
}

}  // namespace

bool IsSupportedCodePage(UINT codePage) {
  return IsUtf8Page(codePage) || codePage == CP_WINDOWS_1252 || codePage == CP_ISO_8859_1;
}

bool AppendWideAsCodePage(UINT codePage, const WCHAR* text, size_t length, std::string* out) {
  if (!IsSupportedCodePage(codePage)) return false;
  for (size_t i = 0; i < length; ++i) {
    const auto code = static_cast<uint32_t>(text[i]);
    if (IsUtf8Page(codePage)) {
      AppendUtf8(code, out);
    } else {
      // Only the Latin-1 range maps one to one; the rest has no byte here.
      out->push_back(code < 0x100 ? static_cast<char>(code) : '?');
    }
  }
  return true;
}

bool AppendCodePageAsWide(UINT codePage, const char* text, size_t length, std::wstring* out) {
  if (!IsSupportedCodePage(codePage)) return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  if (!IsUtf8Page(codePage)) {
    for (size_t i = 0; i < length; ++i) out->push_back(static_cast<wchar_t>(bytes[i]));
    return true;
  }
  for (size_t i = 0; i < length;) out->push_back(static_cast<wchar_t>(DecodeUtf8(bytes, length, &i)));
  return true;
}

std::string Utf8FromWide(const std::wstring& text) {
  std::string out;
  AppendWideAsCodePage(CP_UTF8, text.data(), text.size(), &out);
  return out;
}

std::wstring WideFromUtf8(const std::string& text) {
  std::wstring out;
  AppendCodePageAsWide(CP_UTF8, text.data(), text.size(), &out);
  return out;
}
