#include "platform/arithmetic.h"

LONG MulDiv(LONG a, LONG b, LONG c) {
  if (c == 0) return -1;
  const int64_t product = static_cast<int64_t>(a) * b;
  const bool negative = (product < 0) != (c < 0);
  const uint64_t magnitude = product < 0 ? 0 - static_cast<uint64_t>(product) : static_cast<uint64_t>(product);
  const uint64_t divisor = c < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(c)) : static_cast<uint64_t>(c);
  const uint64_t quotient = (magnitude + divisor / 2) / divisor;
  if (quotient > INT32_MAX) return -1;
  return negative ? -static_cast<LONG>(quotient) : static_cast<LONG>(quotient);
}

LONGLONG Int64x32Div32(LONGLONG a, LONG b, LONG c, LONG d) {
  const __int128 numerator = static_cast<__int128>(a) * b + d;
  const bool negative = (numerator < 0) != (c < 0);
  if (c == 0) return numerator < 0 ? INT64_MIN : INT64_MAX;
  const unsigned __int128 magnitude =
      numerator < 0 ? static_cast<unsigned __int128>(-numerator) : static_cast<unsigned __int128>(numerator);
  const unsigned __int128 divisor = c < 0 ? static_cast<unsigned __int128>(-static_cast<__int128>(c))
                                          : static_cast<unsigned __int128>(c);
  const unsigned __int128 quotient = magnitude / divisor;
  if (negative) {
    if (quotient > static_cast<unsigned __int128>(INT64_MAX)) return INT64_MIN;
    return -static_cast<LONGLONG>(quotient);
  }
  if (quotient > static_cast<unsigned __int128>(INT64_MAX)) return INT64_MAX;
  return static_cast<LONGLONG>(quotient);
}
