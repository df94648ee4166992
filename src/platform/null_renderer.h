// CNullRenderer: accepts any media type and discards every sample.
#pragma once

#include "platform/renderer_base.h"

class CNullRenderer final : public CRendererBase {
 public:
  CNullRenderer(IUnknown* outer, HRESULT* phr);

  static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);

 protected:
  HRESULT CheckRenderType(const CMediaType*) override { return S_OK; }
  HRESULT OnSample(IMediaSample*) override { return S_OK; }
};
