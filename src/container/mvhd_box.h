// mvhdBox: the movie header. Only the duration (converted to 100-ns units),
// the timescale and the matrix are kept.
#pragma once

#include "container/box.h"

class mvhdBox : public FullBox {
 public:
  explicit mvhdBox(Box& header) : FullBox(header) {}

  // The fields after version and flags, checked against the box's own
  // size; the box must fit in *remaining (VFW_E_INVALID_FILE_FORMAT), which
  // then loses it. Leaves position at the end of the box.
  HRESULT ReadBody(IAsyncReader* source, LONGLONG* position, LONGLONG* remaining) override;

  // The movie duration in 100-ns units.
  LONGLONG durationRef = 0;
  DWORD timescale = 0;
  // In file order.
  DWORD matrix[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
};

// A duration in `timescale` units as 100-ns units, truncated and saturated;
// 0 for a timescale of 0.
LONGLONG DurationToReference(LONGLONG duration, DWORD timescale);
