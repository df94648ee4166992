#include "platform/fourcc.h"

std::string FourCCText(uint32_t fileOrderCode) {
  std::string text(4, ' ');
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<unsigned char>(fileOrderCode >> (24 - 8 * i));
    text[i] = (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
  }
  return text;
}
