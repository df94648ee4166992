// Integer scaling with the platform's rounding and saturation.
#pragma once

#include "platform/wintypes.h"

// (a × b) / c rounded to nearest, halves away from zero; -1 when c is 0 or
// the result does not fit in 32 bits.
LONG MulDiv(LONG a, LONG b, LONG c);

// (a × b + d) / c with a 96-bit intermediate, truncated toward zero; the
// result saturates to the largest or smallest 64-bit value when it does not
// fit or c is 0. d is how callers round (c / 2 - 1 rounds halves down).
LONGLONG Int64x32Div32(LONGLONG a, LONG b, LONG c, LONG d);
