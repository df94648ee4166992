// Filters that stand next to a demultiplexer in the engine tests: an
// upstream source whose pin offers IAsyncReader, IBufferedAsyncReader or
// neither, and a downstream filter of a chosen class that accepts any type.
#pragma once

#include "engine/buffered_reader.h"
#include "platform/base_filter.h"
#include "platform/base_input_pin.h"
#include "platform/media_guids.h"
#include "support/memory_source.h"

#include <vector>

namespace dmxtest {

class ReaderSourceFilter : public CBaseFilter {
 public:
  enum class Offers { kAsyncReader, kBufferedReader, kNothing };

  ReaderSourceFilter(std::vector<uint8_t> bytes, Offers offers)
      : CBaseFilter("ReaderSourceFilter", nullptr, &lock_, GUID_NULL),
        source(MemorySource::Create(std::move(bytes))),
        pin_(this, &lock_, offers) {
    if (offers == Offers::kBufferedReader) CBufferedAsyncReader::Create(source.Get(), buffered.Put());
  }

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

  ComPtr<MemorySource> source;
  ComPtr<IBufferedAsyncReader> buffered;

 private:
  class OutputPin : public CBasePin {
   public:
    OutputPin(ReaderSourceFilter* filter, CCritSec* lock, Offers offers)
        : CBasePin("ReaderSourceFilter pin", filter, lock, &result_, L"Output", PINDIR_OUTPUT),
          filter_(filter),
          offers_(offers) {}

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
      if (ppv == nullptr) return E_POINTER;
      if (riid == IID_IAsyncReader && offers_ != Offers::kNothing) {
        return GetInterface(static_cast<IAsyncReader*>(filter_->source.Get()), ppv);
      }
      if (riid == IID_IBufferedAsyncReader && offers_ == Offers::kBufferedReader) {
        return GetInterface(filter_->buffered.Get(), ppv);
      }
      return CBasePin::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT CheckMediaType(const CMediaType* mt) override {
      return mt->majortype == MEDIATYPE_Stream ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(int position, CMediaType* mt) override {
      if (position != 0) return VFW_S_NO_MORE_ITEMS;
      mt->InitMediaType();
      mt->SetType(&MEDIATYPE_Stream);
      return S_OK;
    }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }

   private:
    HRESULT result_ = S_OK;
    ReaderSourceFilter* filter_;
    Offers offers_;
  };

  CCritSec lock_;
  OutputPin pin_;
};

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
