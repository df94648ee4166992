// CPushPin: an output pin that pushes on a worker thread of its own. It is
// the platform output pin, the stream's IMediaSeeking (CFilterPassThru) and
// a CAMThread. Active commits the allocator, starts the worker and tells it
// to run Process; Inactive and BreakConnect flush the source reader (so a
// pending read returns), tell the worker to exit, wait for it and decommit.
// The derived pin supplies Process, the delivery loop.
//
// Worker commands: kRunCommand runs Process once; kExitCommand ends the
// thread. Between Process calls the worker drains any request the source
// still holds and waits for the next command.
//
// Threads: start and stop on the application thread under the access lock
// (which the worker never takes); Process on the worker. Lock order, per
// pin: the filter lock → the access lock → the source flush lock (one for
// the process, innermost but for the source's own flush).
#pragma once

#include "engine/am_thread.h"
#include "engine/filter_pass_thru.h"
#include "platform/async_reader.h"
#include "platform/base_output_pin.h"

class CPushPin : public CBaseOutputPin, public CFilterPassThru, public CAMThread {
 public:
  static constexpr DWORD kRunCommand = 1;
  static constexpr DWORD kExitCommand = 2;

  CPushPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name);
  // The derived pin stops the worker first: the worker runs its Process.
  ~CPushPin() override;

  // Commits the allocator and starts the worker if there is none, then has
  // it run Process. E_UNEXPECTED without an allocator or a source.
  HRESULT Active() override;
  // S_FALSE when no worker runs; otherwise stops it and decommits.
  HRESULT Inactive() override;
  // Stops the worker, releases the source, then the platform's break.
  HRESULT BreakConnect() override;

 protected:
  // The delivery loop, on the worker thread. Its result is not used: the
  // loop reports its own errors.
  virtual HRESULT Process() = 0;
  DWORD ThreadProc() override;

  HRESULT StartWorker();
  HRESULT StopWorker();
  // Nested flushes of the source: the first begin and the last end reach
  // the source, so a stop and a worker's drain may overlap. The count is
  // kept per source object, not per pin: the pins of one file share its
  // reader, and one pin's drain must not end the flush another pin's stop
  // relies on to free its worker from a read.
  HRESULT BeginSourceFlush();
  HRESULT EndSourceFlush();

  // Takes a reference to `source` (null releases the current one). Only
  // while no worker runs.
  void SetSource(IAsyncReader* source);
  // The reader sample bytes come from; not counted. Stays valid while a
  // worker runs.
  IAsyncReader* Source() const { return m_source; }

 private:
  // Hands back whatever queued requests the source still holds.
  void DrainSource();

  IAsyncReader* m_source = nullptr;  // one reference
  // Flushes this pin began and has not ended (so that a pin going away
  // ends its own); under the source flush lock.
  LONG m_sourceFlushCount = 0;
};
