#include "platform/variant.h"

#include "platform/task_memory.h"

void VariantInit(VARIANT* value) {
  if (value == nullptr) return;
  value->vt = VT_EMPTY;
  value->wReserved1 = value->wReserved2 = value->wReserved3 = 0;
  value->punkVal = nullptr;
}

HRESULT VariantClear(VARIANT* value) {
  if (value == nullptr) return E_INVALIDARG;
  if (value->vt == VT_BSTR) {
    SysFreeString(value->bstrVal);
  } else if (value->vt == VT_UNKNOWN && value->punkVal != nullptr) {
    value->punkVal->Release();
  }
  VariantInit(value);
  return S_OK;
}
