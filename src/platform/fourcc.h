// Four-character codes in their two conventions.
//
// File order: a box type or sample-entry format is the big-endian value of its
// four bytes ("moov" is 0x6D6F6F76); this is how the container code keeps them.
// Little-endian DWORD: the platform's FOURCC (biCompression, the first field of
// a FourCC subtype GUID) has the first character in the low byte.
#pragma once

#include "platform/wintypes.h"

#include <string>

constexpr uint32_t FourCC(const char (&text)[5]) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(text[0])) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 8) |
         static_cast<uint32_t>(static_cast<uint8_t>(text[3]));
}

constexpr DWORD MAKEFOURCC(char c0, char c1, char c2, char c3) {
  return static_cast<DWORD>(static_cast<uint8_t>(c0)) |
         (static_cast<DWORD>(static_cast<uint8_t>(c1)) << 8) |
         (static_cast<DWORD>(static_cast<uint8_t>(c2)) << 16) |
         (static_cast<DWORD>(static_cast<uint8_t>(c3)) << 24);
}

constexpr DWORD FourCCAsDword(const char (&text)[5]) {
  return MAKEFOURCC(text[0], text[1], text[2], text[3]);
}

// Turns a file-order code into the platform's DWORD and back (a byte swap).
constexpr uint32_t SwapFourCC(uint32_t code) {
  return ((code & 0xFF) << 24) | ((code & 0xFF00) << 8) | ((code >> 8) & 0xFF00) | (code >> 24);
}

// The four characters of a file-order code; bytes outside printable ASCII
// are shown as '.'.
std::string FourCCText(uint32_t fileOrderCode);
