// VARIANT: the tagged value of automation interfaces, with the few value
// types this system hands across an interface.
#pragma once

#include "platform/unknown.h"

using VARTYPE = WORD;
using VARIANT_BOOL = SHORT;

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_UNKNOWN = 13;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

typedef struct tagVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONG lVal;
    VARIANT_BOOL boolVal;
    BSTR bstrVal;
    IUnknown* punkVal;  // one reference
  };
} VARIANT;

// Empties the variant without freeing anything (its contents are not ours).
void VariantInit(VARIANT* value);
// Frees a BSTR, releases an IUnknown, and leaves VT_EMPTY.
HRESULT VariantClear(VARIANT* value);
