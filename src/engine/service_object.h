// IDmxServiceObject: the optional companion object that a demultiplexer
// filter creates by class identifier when it is constructed and keeps
// informed of its graph, clock and state changes. The filter works without
// it and relies on nothing it returns.
#pragma once

#include "platform/filter_interfaces.h"
#include "platform/graph_interfaces.h"

inline constexpr CLSID CLSID_DmxServiceObject = {
    0x9D2F47A0, 0x1C3B, 0x4E85, {0xB7, 0x06, 0x6A, 0xE1, 0x5F, 0x38, 0x92, 0xCD}};
inline constexpr IID IID_IDmxServiceObject = {
    0x9D2F47A1, 0x1C3B, 0x4E85, {0xB7, 0x06, 0x6A, 0xE1, 0x5F, 0x38, 0x92, 0xCD}};

struct IDmxServiceObject : public IUnknown {
  virtual HRESULT SetSyncSource(IReferenceClock* clock) = 0;
  virtual HRESULT JoinFilterGraph(IFilterGraph* graph) = 0;
  virtual HRESULT Run(REFERENCE_TIME start) = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Stop() = 0;
  // The filter's input was disconnected or is being connected anew.
  virtual HRESULT Reset() = 0;
  // An output pin was created with this first media type; `pinField` is a
  // 32-bit field of the pin the object may fill.
  virtual HRESULT AnnounceOutputPin(const AM_MEDIA_TYPE* mt, LONG* pinField) = 0;

 protected:
  ~IDmxServiceObject() = default;
};
