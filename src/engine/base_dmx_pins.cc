// CBaseDmx: the pin table (creation, naming, capacity, removal) and the
// choice of the main seeking pin.
#include "engine/base_dmx.h"

#include "engine/buffered_reader.h"
#include "engine/input_pin.h"
#include "engine/output_pin.h"

#include <algorithm>
#include <cwchar>
#include <new>

namespace {

// Pin names are formatted into 16 wide characters.
constexpr size_t kPinNameCapacity = 16;

}  // namespace

int CBaseDmx::GetPinCount() {
  CAutoLock hold(&m_pinLock);
  return m_outputPinCount + 1;
}

CBaseDmxOutputPin* CBaseDmx::CreateOutputPin(int streamIndex, LPCWSTR name) {
  HRESULT hr = S_OK;
  auto* pin = new (std::nothrow) CBaseDmxOutputPin(this, streamIndex, &hr, name);
  if (pin != nullptr && FAILED(hr)) {
    delete pin;
    pin = nullptr;
  }
  return pin;
}

CBasePin* CBaseDmx::GetPin(int n) {
  CAutoLock hold(&m_pinLock);
  if (n < 0) return nullptr;
  if (n == 0) {
    if (m_inputPin == nullptr) {
      WCHAR name[kPinNameCapacity];
      std::swprintf(name, kPinNameCapacity, L"Input %.2d", 1);
      HRESULT hr = S_OK;
      auto* pin = new (std::nothrow) CBaseDmxInputPin(this, 0, &hr, name);
      if (pin != nullptr && FAILED(hr)) {
        delete pin;
        pin = nullptr;
      }
      m_inputPin = pin;
    }
    return m_inputPin;
  }
  if (n - 1 >= m_outputPinCount) return nullptr;
  CBaseDmxOutputPin*& slot = m_outputPins[n - 1];
  if (slot == nullptr) {
    WCHAR name[kPinNameCapacity];
    std::swprintf(name, kPinNameCapacity, L"Output %.2d", n);
    slot = CreateOutputPin(n - 1, name);
  }
  return slot;
}

HRESULT CBaseDmx::AddOutputPin(BOOL hidden) {
  CAutoLock hold(&m_pinLock);
  if (m_outputPinCount >= m_maxOutputPins) return E_FAIL;
  const LONG count = ++m_outputPinCount;
  IncrementPinVersion();
  WCHAR name[kPinNameCapacity];
  std::swprintf(name, kPinNameCapacity, hidden ? L"~Output %.2d" : L"Output %.2d", count);
  CBaseDmxOutputPin* pin = CreateOutputPin(count - 1, name);
  m_outputPins[count - 1] = pin;
  return pin == nullptr ? E_OUTOFMEMORY : S_OK;
}

void CBaseDmx::RemoveOutputPins() {
  LONG count = 0;
  {
    CAutoLock hold(&m_pinLock);
    count = m_outputPinCount;
    if (count == 0) return;
    m_outputPinCount = 0;
    IncrementPinVersion();
    m_firstVideoPin = nullptr;
    m_firstAudioPin = nullptr;
  }
  // The main pin would otherwise point at a released pin and keep every new
  // pin from becoming main.
  SetMainSeekingPin(nullptr);
  for (LONG k = 0; k < count; ++k) {
    CBaseDmxOutputPin* pin = nullptr;
    {
      CAutoLock hold(&m_pinLock);
      std::swap(pin, m_outputPins[k]);
    }
    if (pin == nullptr) continue;
    // Disconnecting goes through the graph, which takes its own lock before
    // ours: the pin table lock is not held across it.
    IFilterGraph* graph = GetFilterGraph();
    IPin* peer = pin->GetConnected();
    if (graph != nullptr && peer != nullptr) {
      peer->AddRef();
      graph->Disconnect(peer);
      peer->Release();
      pin->AddRef();
      graph->Disconnect(pin);
      pin->Release();
    }
    pin->ReleaseFromFilter();
  }
}

HRESULT CBaseDmx::SetMaxOutputPins(LONG n) {
  CAutoLock hold(&m_pinLock);
  if (n <= m_maxOutputPins) return S_OK;
  const LONG slots = std::max<LONG>(1, n);
  auto* pins = new (std::nothrow) CBaseDmxOutputPin*[static_cast<size_t>(slots)]();
  if (pins == nullptr) return E_OUTOFMEMORY;
  if (m_outputPins != nullptr) std::copy(m_outputPins, m_outputPins + m_outputPinCount, pins);
  delete[] m_outputPins;
  m_outputPins = pins;
  m_maxOutputPins = slots;
  return S_OK;
}

CBaseDmxInputPin* CBaseDmx::GetInputPin() {
  CAutoLock hold(&m_pinLock);
  return static_cast<CBaseDmxInputPin*>(GetPin(0));
}

IBufferedAsyncReader* CBaseDmx::GetReader() {
  CBaseDmxInputPin* input = nullptr;
  {
    CAutoLock hold(&m_pinLock);
    input = m_inputPin;
  }
  return input != nullptr ? input->GetReader() : nullptr;
}

int CBaseDmx::GetOutputPinCount() {
  CAutoLock hold(&m_pinLock);
  return m_outputPinCount;
}

CBaseDmxOutputPin* CBaseDmx::GetOutputPin(int k) {
  CAutoLock hold(&m_pinLock);
  if (k < 0) return nullptr;
  return static_cast<CBaseDmxOutputPin*>(GetPin(k + 1));
}

int CBaseDmx::GetPinDirection(int n) {
  CBasePin* pin = GetPin(n);
  if (pin == nullptr) return -1;
  PIN_DIRECTION dir = PINDIR_INPUT;
  if (FAILED(pin->QueryDirection(&dir))) return -1;
  return dir;
}

void CBaseDmx::SetMainSeekingPin(CBaseDmxOutputPin* pin) {
  CAutoLock hold(&m_seekPinLock);
  m_mainSeekingPin = pin;
}

CBaseDmxOutputPin* CBaseDmx::GetMainSeekingPin() {
  CAutoLock hold(&m_seekPinLock);
  return m_mainSeekingPin;
}

CBaseDmxOutputPin* CBaseDmx::SettleMainSeekingPin(CBaseDmxOutputPin* asking) {
  CAutoLock hold(&m_seekPinLock);
  if (m_mainSeekingPin == nullptr) {
    // Audio leads when there is audio: its clock is the one players follow.
    CBaseDmxOutputPin* audio = m_firstAudioPin;
    m_mainSeekingPin = audio != nullptr && audio->IsConnected() ? audio : asking;
  }
  return m_mainSeekingPin;
}
