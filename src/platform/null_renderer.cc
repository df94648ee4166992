#include "platform/null_renderer.h"

#include "platform/media_guids.h"

#include <new>

CNullRenderer::CNullRenderer(IUnknown* outer, HRESULT* phr)
    : CRendererBase("CNullRenderer", outer, CLSID_NullRenderer, phr) {}

CUnknown* CNullRenderer::CreateInstance(IUnknown* outer, HRESULT* phr) {
  auto* renderer = new (std::nothrow) CNullRenderer(outer, phr);
  if (renderer == nullptr && phr != nullptr) *phr = E_OUTOFMEMORY;
  return renderer;
}
