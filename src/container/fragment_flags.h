// The flag bits of the track fragment header ("tfhd"), the track run
// ("trun") and the sample flags, shared by the fragment loader, the run
// handler and the scan of the last indexed fragment.
#pragma once

#include "platform/wintypes.h"

// "tfhd" flags.
inline constexpr DWORD kTfhdBaseDataOffset = 0x000001;
inline constexpr DWORD kTfhdSampleDescriptionIndex = 0x000002;
inline constexpr DWORD kTfhdDefaultSampleDuration = 0x000008;
inline constexpr DWORD kTfhdDefaultSampleSize = 0x000010;
inline constexpr DWORD kTfhdDefaultSampleFlags = 0x000020;
inline constexpr DWORD kTfhdDurationIsEmpty = 0x010000;

// "trun" flags.
inline constexpr DWORD kTrunDataOffset = 0x000001;
inline constexpr DWORD kTrunFirstSampleFlags = 0x000004;
inline constexpr DWORD kTrunSampleDuration = 0x000100;
inline constexpr DWORD kTrunSampleSize = 0x000200;
inline constexpr DWORD kTrunSampleFlags = 0x000400;
inline constexpr DWORD kTrunSampleCompositionOffset = 0x000800;

// Sample flags.
inline constexpr DWORD kSampleIsNonSync = 0x00010000;
inline constexpr DWORD kSampleDependsOnMask = 0x03000000;
inline constexpr DWORD kSampleDependsOnOthers = 0x01000000;

// A composition offset as read: unsigned in version 0 runs, signed after.
inline LONGLONG CompositionOffset(BYTE trunVersion, DWORD bits) {
  return trunVersion == 0 ? LONGLONG{bits} : LONGLONG{static_cast<LONG>(bits)};
}
