// CBaseDmx: the generic demultiplexer filter. It owns one input pin and a
// growable table of output pins, drives Stop/Pause/Run into every pin
// (connected or not: each pin decides for itself), fans flushes,
// end-of-stream and new segments out to the output pins, keeps the choice
// of the main seeking pin, latches errors and reports them to the graph,
// and offers the optional service object through IServiceProvider(2).
// Everything container-specific is reached through the virtual hooks, which
// a derived filter overrides.
//
// Pin numbers given to the hooks are GetPin numbers: 0 for the input pin,
// k + 1 for output pin k.
//
// Lock order, outermost first (each lock is also commented where declared):
//   m_filterLock → m_pinLock → m_seekPinLock
//   m_streamLock → m_pinLock
// m_filterLock is the filter's and every pin's object lock: Stop, Pause, Run
// and a seek's UpdateCurrentPosition hold it. Output pins count their
// references without it (peers add references under their own locks).
// m_streamLock serialises the input
// pin's streaming calls and is never taken under m_filterLock. The fan-out
// loops take no lock of their own (only m_pinLock to read the table).
#pragma once

#include "engine/error_latch.h"
#include "engine/service_object.h"
#include "engine/service_provider.h"
#include "platform/base_filter.h"

#include <atomic>

class CBaseDmxInputPin;
class CBaseDmxOutputPin;
class CSeeking;
struct IBufferedAsyncReader;

class CBaseDmx : public CBaseFilter, public IServiceProvider, public IServiceProvider2 {
 public:
  // `maxOutputPins` is the initial capacity of the output pin table (at
  // least 1 slot is allocated). Creates the service object when its class
  // can be created; without it the filter works the same.
  CBaseDmx(REFCLSID clsid, const char* name, IUnknown* outer, HRESULT* phr, LONG maxOutputPins);
  ~CBaseDmx() override;

  DECLARE_IUNKNOWN
  // IServiceProvider and IServiceProvider2, then CBaseFilter's interfaces.
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Output pin count + 1, under m_pinLock.
  int GetPinCount() override;
  // Under m_pinLock; creates the input pin on first use and an output pin
  // for an empty slot. Null for a number out of range or a failed creation.
  CBasePin* GetPin(int n) override;

  // Error latch. The markers returned travel up the call stack until the
  // outermost caller passes its result to OnError, which replaces it by the
  // latched code (and reports an error result to the graph).
  virtual HRESULT SetAbortResult(HRESULT hr);
  virtual HRESULT SetErrorResult(HRESULT hr);
  virtual HRESULT OnError(HRESULT hrDefault);
  // Traces and sends EC_ERRORABORT with hr to the graph; returns hr.
  virtual HRESULT NotifyGraphOfError(HRESULT hr);

  // Hooks with their defaults.
  // On Pause from Stopped, before any pin is activated.
  virtual HRESULT PrepareOutputPins();
  virtual HRESULT OnStopped();
  virtual HRESULT CheckPinMediaType(int pinNo, const CMediaType* mt);
  virtual HRESULT SetPinMediaType(int pinNo, const CMediaType* mt);
  virtual HRESULT GetPinMediaType(int pinNo, int position, CMediaType* mt);
  // At least 2 buffers of at least 8192 bytes, aligned to 4, no prefix.
  virtual HRESULT DecidePinBufferSize(int pinNo, IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props);
  virtual HRESULT CheckPinConnect(int pinNo, IPin* otherPin);
  // Both reopen the choice of the main seeking pin.
  virtual HRESULT CompletePinConnect(int pinNo, IPin* otherPin);
  virtual HRESULT BreakPinConnect(int pinNo);
  virtual HRESULT ReceiveInputSample(int pinNo, IMediaSample* sample);
  // End-of-stream from upstream goes to every output pin, unless the input
  // is connected and has not itself seen end-of-stream.
  virtual HRESULT OnInputEndOfStream(int pinNo);
  virtual HRESULT DeliverEndOfStreamAll();
  virtual HRESULT DeliverEndFlushAll(int pinNo);
  virtual HRESULT DeliverBeginFlushAll(int pinNo);
  virtual HRESULT DeliverNewSegmentAll(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
  // PINDIR_INPUT or PINDIR_OUTPUT of GetPin(n); -1 when there is no such pin.
  virtual int GetPinDirection(int n);
  virtual HRESULT RunPins(REFERENCE_TIME start);
  virtual HRESULT PausePins();
  virtual HRESULT StopPins();
  // Appends a pin named "Output NN" ("~Output NN" when hidden); E_FAIL when
  // the table is full.
  virtual HRESULT AddOutputPin(BOOL hidden);
  // Disconnects (through the graph) and releases every output pin.
  virtual void RemoveOutputPins();
  virtual CBaseDmxInputPin* GetInputPin();
  // The input's buffered reader with a reference added, or null.
  virtual IBufferedAsyncReader* GetReader();
  virtual int GetOutputPinCount();
  // Not counted; null when absent.
  virtual CBaseDmxOutputPin* GetOutputPin(int k);

  // IMediaFilter. Stop always succeeds; a failed Pause or Run leaves the
  // state as it was.
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  // Both tell the service object first.
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT SetSyncSource(IReferenceClock* clock) override;

  // IServiceProvider: the service object, asked by its class identifier.
  HRESULT QueryService(REFGUID service, REFIID riid, void** ppv) override;
  // IServiceProvider2.
  HRESULT ProfferService(REFGUID service, IUnknown* provider, DWORD* cookie) override;
  HRESULT RevokeService(DWORD cookie) override;
  HRESULT QueryServiceFor(IUnknown* object, REFGUID service, REFIID riid, void** ppv) override;
  HRESULT GetServiceCount(ULONG* count) override;
  HRESULT GetServiceForObject(IUnknown* object, VARIANT* service) override;

  // Raises the output pin capacity to max(1, n); never lowers it.
  HRESULT SetMaxOutputPins(LONG n);
  void SetMainSeekingPin(CBaseDmxOutputPin* pin);
  CBaseDmxOutputPin* GetMainSeekingPin();
  // The choice an output pin makes when first asked for IMediaSeeking: a
  // main pin already set stands; else the first audio pin when it is
  // connected, else `asking`. Returns the main pin.
  CBaseDmxOutputPin* SettleMainSeekingPin(CBaseDmxOutputPin* asking);
  // The filter's own seeking (IID_IDmxFilterSeeking), or null when the
  // derived filter has none. Not counted: it is this object.
  CSeeking* GetSeeking();

  CCritSec* FilterLock() { return &m_filterLock; }
  CCritSec* StreamLock() { return &m_streamLock; }
  FILTER_STATE State() const { return m_State; }
  IDmxServiceObject* ServiceObject() const { return m_serviceObject; }
  CBaseDmxOutputPin* FirstVideoPin() const { return m_firstVideoPin; }
  CBaseDmxOutputPin* FirstAudioPin() const { return m_firstAudioPin; }
  void SetReportErrors(BOOL report) { m_reportErrors = report; }

 protected:
  // Makes the pin object for a new slot, under m_pinLock; null when it
  // cannot be made. A filter whose pins need more than CBaseDmxOutputPin
  // (tests record what reaches them) makes its own here.
  virtual CBaseDmxOutputPin* CreateOutputPin(int streamIndex, LPCWSTR name);
  void SetFirstVideoPin(CBaseDmxOutputPin* pin) { m_firstVideoPin = pin; }
  void SetFirstAudioPin(CBaseDmxOutputPin* pin) { m_firstAudioPin = pin; }

  // Latched results; 0 means none. Atomic: streaming threads latch.
  ErrorLatch m_errorLatch;
  std::atomic<BOOL> m_reportErrors{TRUE};
  IDmxServiceObject* m_serviceObject = nullptr;  // one reference, or null
  // Serialises the input pin's Receive and EndOfStream. Outermost on the
  // upstream's streaming thread; its holder may take m_pinLock.
  CCritSec m_streamLock;
  // The object lock of the filter and of every pin. Outermost.
  CCritSec m_filterLock;
  // Guards the pin table below and the input pin's creation. Inside
  // m_filterLock and m_streamLock; m_seekPinLock may be taken under it.
  CCritSec m_pinLock;
  CBaseDmxInputPin* m_inputPin = nullptr;  // owned
  LONG m_outputPinCount = 0;
  LONG m_maxOutputPins = 0;
  CBaseDmxOutputPin** m_outputPins = nullptr;  // max(1, m_maxOutputPins) slots; one reference each
  std::atomic<CBaseDmxOutputPin*> m_firstVideoPin{nullptr};
  std::atomic<CBaseDmxOutputPin*> m_firstAudioPin{nullptr};
  // Guards m_mainSeekingPin. Innermost.
  CCritSec m_seekPinLock;
  CBaseDmxOutputPin* m_mainSeekingPin = nullptr;
};
