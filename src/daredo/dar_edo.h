// CDarEdo: the ISO demultiplexer filter ("Verdant ISO Demultiplexer"). It
// joins the demultiplexer engine to the container model: when its input
// connects it makes one CDarEdoSource per byte stream, parses each, and
// creates one output pin per track that has a sample entry and a media
// type; it sizes the pins' buffers from their tracks and answers the
// filter-level seeking questions (duration, position, frame/time
// conversion) from the tracks, applying a changed segment to the pins.
//
// Ownership: the filter owns its sources; each source owns its tracks; an
// output pin points at its track. Sources live from a successful connect
// until the input disconnects (or the next connect resets them).
//
// Threads: the connect, the disconnect and the pin building run on the
// thread that connects the graph, under the filter lock (the input pin's
// lock). UpdateCurrentPosition takes the filter lock. The pins' workers
// read the tracks (each under its own table lock) and call FrameToTime /
// TimeToFrame through the seeking part, which take no filter lock.
#pragma once

#include "container/dar_edo_source.h"
#include "daredo/iso_demultiplexer.h"
#include "engine/base_dmx.h"
#include "engine/seeking.h"

#include <memory>
#include <string>
#include <vector>

class CDarEdo final : public CBaseDmx, public CSeeking {
 public:
  // The output-pin table starts with this many slots; a connect raises it.
  static constexpr LONG kInitialOutputPins = 16;

  // For the class table and the class factory.
  static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
  // The filter behind `filter` when it is one of ours, else null. Not counted.
  static CDarEdo* FromFilter(IBaseFilter* filter);

  CDarEdo(IUnknown* outer, HRESULT* phr);
  ~CDarEdo() override;

  DECLARE_IUNKNOWN
  // The seeking part under IID_IDmxFilterSeeking, then CBaseDmx's.
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Input: MEDIATYPE_Stream (or a null major type) with one of our file
  // subtypes; output pins: the pin's own matching.
  HRESULT CheckPinMediaType(int pinNo, const CMediaType* mt) override;
  // Input: MEDIATYPE_Stream "VISO" at position 0; output pins: the track's.
  HRESULT GetPinMediaType(int pinNo, int position, CMediaType* mt) override;
  // Output pins: buffers of the pin's largest sample, as many as make
  // about 10 MB (2 to 32).
  HRESULT DecidePinBufferSize(int pinNo, IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override;
  // Input: the connect sequence (parse, then the output pins).
  HRESULT CompletePinConnect(int pinNo, IPin* otherPin) override;
  // Input: removes the output pins and the sources.
  HRESULT BreakPinConnect(int pinNo) override;

  // IMediaSeeking answers that need the tracks.
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetCurrentPosition(LONGLONG* current) override;
  HRESULT UpdateCurrentPosition(BOOL flush) override;
  HRESULT FrameToTime(LONGLONG frame, LONGLONG* time) override;
  HRESULT TimeToFrame(LONGLONG time, LONGLONG* frame) override;
  BOOL IsRateSupported(double rate) override;

  // What the last connect of the input returned (S_OK before any).
  HRESULT LastConnectResult() const { return m_connectResult; }
  // The sources of the current connection; for the tool and tests, on the
  // application thread.
  size_t SourceCount() const { return m_sources.size(); }
  const CDarEdoSource& Source(size_t index) const { return *m_sources.at(index); }
  // Where a source opened from a manifest was read from; empty for the
  // input's own stream.
  std::wstring SourceLocation(size_t index) const {
    return index < m_sourceLocations.size() ? m_sourceLocations[index] : std::wstring();
  }

 private:
  HRESULT RunConnectSequence(IPin* upstream);
  // The manifest branch (manifest.cc): a "VISM" input names the media files
  // to open, one source each.
  HRESULT OpenManifestSources(IPin* upstream);
  HRESULT BuildOutputPins();
  HRESULT AddTrackPin(CDarEdoSource& source, trakBox& track);
  void DeleteSources();
  // The source whose track list holds `track`, or null.
  const CDarEdoSource* SourceOfTrack(const trakBox* track) const;
  // One track's length in 100-ns units, as GetDuration weighs it.
  LONGLONG TrackDuration(trakBox& track) const;
  bool AnySourceFragmented() const;

  // Changed only on the connecting thread under the filter lock.
  std::vector<std::unique_ptr<CDarEdoSource>> m_sources;
  // The manifest's media locations, by source index; empty otherwise.
  std::vector<std::wstring> m_sourceLocations;
  HRESULT m_connectResult = S_OK;
};
