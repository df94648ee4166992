// A downstream filter of a chosen class that accepts any type, to stand
// next to a demultiplexer in the engine tests.
#pragma once

#include "engine/buffered_reader.h"
#include "platform/base_filter.h"
#include "platform/base_input_pin.h"
#include "platform/media_guids.h"
#include "support/memory_source.h"

#include <vector>

namespace dmxtest {

// A renderer-less downstream filter of class `clsid` whose input takes any
// type (the AVI multiplexer's class, for the private-subtype refusal).
class AnyTypeSinkFilter : public CBaseFilter {
 public:
  explicit AnyTypeSinkFilter(REFCLSID clsid) : CBaseFilter("AnyTypeSinkFilter", nullptr, &lock_, clsid), pin_(this, &lock_) {}

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

 private:
  class InputPin : public CBaseInputPin {
   public:
    InputPin(CBaseFilter* filter, CCritSec* lock) : CBaseInputPin("AnyTypeSink pin", filter, lock, &result_, L"In") {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }

   private:
    HRESULT result_ = S_OK;
  };

  CCritSec lock_;
  InputPin pin_;
};

}  // namespace dmxtest
