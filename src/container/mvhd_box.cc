#include "container/mvhd_box.h"

#include <cmath>

namespace {

// Creation and modification times, version 1 and version 0.
constexpr LONGLONG kLongTimesBytes = 16;
constexpr LONGLONG kShortTimesBytes = 8;
// Rate, volume and reserved words before the matrix.
constexpr LONGLONG kBeforeMatrixBytes = 16;
constexpr double kReferenceUnitsPerSecond = 10000000.0;

}  // namespace

// The conversion is done in double precision, as movie durations always
// were; values beyond the 64-bit range are pinned to its ends.
LONGLONG DurationToReference(LONGLONG duration, DWORD timescale) {
  // A timescale of 0 gives no duration rather than a division by zero.
  if (timescale == 0) return 0;
  const double reference = static_cast<double>(duration) / static_cast<double>(timescale) * kReferenceUnitsPerSecond;
  if (reference >= 9.2233720368547758e18) return INT64_MAX;
  if (reference <= -9.2233720368547758e18) return INT64_MIN;
  return static_cast<LONGLONG>(std::trunc(reference));
}

HRESULT mvhdBox::ReadBody(IAsyncReader* source, LONGLONG* position, LONGLONG* remaining) {
  RETURN_IF_FAILED(ClaimChild(remaining, *this));
  BoxFieldReader fields = Fields(source, position);
  LONGLONG duration = 0;
  if (version == 1) {
    ULONGLONG longDuration = 0;
    RETURN_IF_FAILED(fields.Skip(kLongTimesBytes));
    RETURN_IF_FAILED(fields.U32(&timescale));
    RETURN_IF_FAILED(fields.U64(&longDuration));
    duration = static_cast<LONGLONG>(longDuration);
  } else {
    DWORD shortDuration = 0;
    RETURN_IF_FAILED(fields.Skip(kShortTimesBytes));
    RETURN_IF_FAILED(fields.U32(&timescale));
    RETURN_IF_FAILED(fields.U32(&shortDuration));
    duration = shortDuration;
  }
  durationRef = DurationToReference(duration, timescale);
  if (!fields.Fits(kBeforeMatrixBytes)) return STG_E_INVALIDHEADER;
  RETURN_IF_FAILED(fields.Skip(kBeforeMatrixBytes));
  for (DWORD& value : matrix) RETURN_IF_FAILED(fields.U32(&value));
  // Pre-defined words and the next track ID are not kept.
  if (!extendsToEnd) fields.SkipRest();
  size = 0;
  return S_OK;
}
