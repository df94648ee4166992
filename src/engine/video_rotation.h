// IVTVideoRotation: how far a video stream must be turned for display, as
// the track header's matrix says.
#pragma once

#include "platform/unknown.h"

inline constexpr IID IID_IVTVideoRotation = {
    0xB6E3F0D8, 0x47A2, 0x4C19, {0x9E, 0x5B, 0x08, 0xC7, 0x3D, 0x61, 0xAF, 0x24}};

struct IVTVideoRotation : public IUnknown {
  // 0, 90, 180 or 270 degrees clockwise; E_NOTIMPL without a track.
  virtual HRESULT GetRotation(LONG* degrees) = 0;

 protected:
  ~IVTVideoRotation() = default;
};
