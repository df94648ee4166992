// CBaseDmx: the state changes (Stop, Pause, Run and their pin loops) and the
// fan-out of stream notifications to the output pins.
#include "engine/base_dmx.h"

#include "engine/input_pin.h"
#include "engine/output_pin.h"
#include "engine/seeking.h"

HRESULT CBaseDmx::Stop() {
  CAutoLock hold(&m_filterLock);
  if (m_State != State_Stopped) {
    const FILTER_STATE before = m_State;
    if (SUCCEEDED(StopPins())) {
      CBaseDmxInputPin* input = GetInputPin();
      if (input != nullptr) input->OnFilterStopped();
      if (FAILED(OnStopped())) m_State = before;
    }
  }
  if (m_serviceObject != nullptr) m_serviceObject->Stop();
  return S_OK;
}

HRESULT CBaseDmx::StopPins() {
  if (m_State == State_Stopped) return S_OK;
  HRESULT firstFailure = S_OK;
  const int count = GetPinCount();
  for (int n = 0; n < count; ++n) {
    CBasePin* pin = GetPin(n);
    if (pin == nullptr) break;
    // Every pin is told, whatever an earlier one answered.
    const HRESULT hr = pin->Inactive();
    if (FAILED(hr) && SUCCEEDED(firstFailure)) firstFailure = hr;
  }
  m_State = State_Stopped;
  return firstFailure;
}

HRESULT CBaseDmx::Pause() {
  CAutoLock hold(&m_filterLock);
  HRESULT hr = S_OK;
  if (m_State == State_Stopped) {
    hr = PrepareOutputPins();
    if (FAILED(hr)) return hr;
    hr = PausePins();
    if (FAILED(hr)) return hr;
    CBaseDmxInputPin* input = GetInputPin();
    if (input != nullptr) input->ResetEndOfStream();
  } else if (m_State == State_Running) {
    hr = PausePins();
    if (FAILED(hr)) return hr;
  }
  if (m_serviceObject != nullptr) m_serviceObject->Pause();
  return hr;
}

HRESULT CBaseDmx::PausePins() {
  if (m_State == State_Stopped) {
    const int count = GetPinCount();
    for (int n = 0; n < count; ++n) {
      CBasePin* pin = GetPin(n);
      if (pin == nullptr) break;
      const HRESULT hr = pin->Active();
      if (FAILED(hr)) {
        // The filter stays Stopped, so no Stop would reach the pins started
        // so far: they are stopped here.
        for (int started = 0; started < n; ++started) {
          CBasePin* done = GetPin(started);
          if (done != nullptr) done->Inactive();
        }
        return hr;
      }
    }
  }
  m_State = State_Paused;
  return S_OK;
}

HRESULT CBaseDmx::Run(REFERENCE_TIME start) {
  CAutoLock hold(&m_filterLock);
  const HRESULT hr = RunPins(start);
  if (SUCCEEDED(hr) && m_serviceObject != nullptr) m_serviceObject->Run(start);
  return hr;
}

HRESULT CBaseDmx::RunPins(REFERENCE_TIME start) {
  m_tStart = start;
  if (m_State == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  if (m_State != State_Running) {
    const int count = GetPinCount();
    for (int n = 0; n < count; ++n) {
      CBasePin* pin = GetPin(n);
      if (pin == nullptr) break;
      const HRESULT hr = pin->Run(start);
      if (FAILED(hr)) return hr;
    }
    // A seek recorded while stopped or paused must not hide a later seek to
    // the same place (replaying from the start after the end).
    CSeeking* seeking = GetSeeking();
    if (seeking != nullptr) seeking->ForgetRecordedSegment();
  }
  m_State = State_Running;
  return S_OK;
}

HRESULT CBaseDmx::DeliverEndOfStreamAll() {
  const int count = GetOutputPinCount();
  for (int k = 0; k < count; ++k) {
    CBaseDmxOutputPin* pin = GetOutputPin(k);
    if (pin != nullptr) pin->DeliverEndOfStream();
  }
  return S_OK;
}

HRESULT CBaseDmx::DeliverEndFlushAll(int) {
  const int count = GetOutputPinCount();
  for (int k = 0; k < count; ++k) {
    CBaseDmxOutputPin* pin = GetOutputPin(k);
    if (pin != nullptr) pin->DeliverEndFlush();
  }
  return S_OK;
}

HRESULT CBaseDmx::DeliverBeginFlushAll(int) {
  const int count = GetOutputPinCount();
  for (int k = 0; k < count; ++k) {
    CBaseDmxOutputPin* pin = GetOutputPin(k);
    if (pin != nullptr) pin->DeliverBeginFlush();
  }
  return S_OK;
}

HRESULT CBaseDmx::DeliverNewSegmentAll(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  const int count = GetOutputPinCount();
  for (int k = 0; k < count; ++k) {
    CBaseDmxOutputPin* pin = GetOutputPin(k);
    if (pin != nullptr) pin->DeliverNewSegment(start, stop, rate);
  }
  return S_OK;
}
