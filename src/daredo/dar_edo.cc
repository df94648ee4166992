#include "daredo/dar_edo.h"

#include "container/growable_array.h"
#include "diagnostics/trace.h"
#include "engine/buffered_reader.h"
#include "engine/input_pin.h"
#include "engine/output_pin.h"
#include "platform/format_blocks.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "platform/sample_interfaces.h"
#include "streams/media_type_match.h"
#include "streams/sample_entry_factory.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace {

inline constexpr GUID MEDIATYPE_AUXLine21Data = {
    0x670AEA80, 0x3A82, 0x11D0, {0xB7, 0x9B, 0x00, 0xAA, 0x00, 0x37, 0x67, 0xA7}};

constexpr LONGLONG kUnitsPerSecond = 10000000;
// Fragmented tracks get their first 5 s loaded when the pins are built.
constexpr LONGLONG kFragmentPreload = 5 * kUnitsPerSecond;
// A pin's buffers add up to about this many bytes.
constexpr LONG kBufferBudget = 10000000;
constexpr LONG kMinBuffers = 2;
constexpr LONG kMaxBuffers = 32;
// A track whose samples are all empty still needs a buffer to deliver
// them in; a page is what the fallback allocator gives as well.
constexpr LONG kEmptyTrackBufferSize = 4096;
// The sizes come from the file: a claimed sample of gigabytes must not
// become an allocation of gigabytes. Larger samples fail to fill and end
// their stream with an error.
constexpr ULONGLONG kMaxBufferSize = 128ull << 20;

// Fragmented buffer sizes: room for a raw picture, or 1.5 s of PCM ten
// times over, or four of the largest samples seen so far.
constexpr ULONGLONG kVideoBytesPerPixel = 6;
constexpr ULONGLONG kAudioBufferSeconds = 10;
constexpr ULONGLONG kOtherSampleMultiple = 4;

GUID FourCCGuid(const char (&code)[5]) { return FourCCSubtype(FourCC(code)); }

bool IsAcceptedInputSubtype(REFGUID subtype) {
  const DWORD viso = FourCC("VISO");
  return subtype == FourCCSubtype(viso) || subtype == FourCCSubtype(SwapFourCC(viso)) ||
         subtype == FourCCGuid("VFLV") || subtype == GUID_NULL || subtype == MEDIASUBTYPE_QTMovie ||
         subtype == MEDIASUBTYPE_IsoMp4Family || subtype == FourCCGuid("VISM");
}

// value × multiplier / divisor without overflow, saturated.
ULONGLONG ScaleSaturated(ULONGLONG value, ULONGLONG multiplier, ULONGLONG divisor) {
  if (divisor == 0) return std::numeric_limits<ULONGLONG>::max();
  const unsigned __int128 product = static_cast<unsigned __int128>(value) * multiplier / divisor;
  return product > std::numeric_limits<ULONGLONG>::max() ? std::numeric_limits<ULONGLONG>::max()
                                                         : static_cast<ULONGLONG>(product);
}

// The media header is the only writer of a track's language, so an empty
// one means no "mdhd" was read and the timescale is only the default.
bool HasOwnTimescale(const trakBox& track) { return track.language[0] != '\0' && track.timescale != 0; }

// A fragmented track's headers may describe no samples yet, so its buffer
// is sized from the format.
ULONGLONG FragmentedBufferSize(const CMediaType& mt, ULONGLONG largestSample) {
  ULONGLONG size = 0;
  if (mt.majortype == MEDIATYPE_Video) {
    // The bitmap header sits at a different place in each format block.
    VideoFormatView view{};
    if (GetVideoFormatView(mt, &view)) {
      const ULONGLONG width = static_cast<ULONGLONG>(std::max<LONG>(view.bitmap.biWidth, 0));
      const LONGLONG height = view.bitmap.biHeight;
      const ULONGLONG rows = static_cast<ULONGLONG>(height < 0 ? -static_cast<LONGLONG>(height) : height);
      size = ScaleSaturated(rows * width, kVideoBytesPerPixel, 1);
    }
  } else if (mt.majortype == MEDIATYPE_Audio) {
    if (mt.formattype == FORMAT_WaveFormatEx && mt.cbFormat >= sizeof(WAVEFORMATEX) && mt.pbFormat != nullptr) {
      WAVEFORMATEX wave{};
      std::memcpy(&wave, mt.pbFormat, sizeof wave);
      const ULONGLONG bytesPerSample = wave.wBitsPerSample != 0 ? wave.wBitsPerSample / 8 : 2;
      size = ScaleSaturated(ScaleSaturated(static_cast<ULONGLONG>(wave.nChannels) * wave.nSamplesPerSec,
                                           bytesPerSample * 3, 2),
                            kAudioBufferSeconds, 1);
    }
  } else {
    size = ScaleSaturated(largestSample, kOtherSampleMultiple, 1);
  }
  return std::max(size, largestSample);
}

// Raw pictures delivered as RGB24/RGB32 are converted into padded rows,
// which the stored frame does not count: the buffers follow the RGB type.
DWORD ConvertedPictureBytes(const CMediaType& connection) {
  if (connection.subtype != MEDIASUBTYPE_RGB24 && connection.subtype != MEDIASUBTYPE_RGB32) return 0;
  VideoFormatView view{};
  return GetVideoFormatView(connection, &view) ? view.bitmap.biSizeImage : 0;
}

char MediaLetter(REFGUID majortype) {
  if (majortype == MEDIATYPE_Video) return 'V';
  if (majortype == MEDIATYPE_Audio) return 'A';
  if (majortype == MEDIATYPE_AUXLine21Data) return 'C';
  if (majortype == MEDIATYPE_Subtitle) return 'S';
  return '?';
}

const char* StateName(FILTER_STATE state) {
  switch (state) {
    case State_Stopped:
      return "State_Stopped";
    case State_Paused:
      return "State_Paused";
    default:
      return "State_Running";
  }
}

// Points a fragmented track at a block cache of its own.
void UseOwnBlockCache(trakBox& track) {
  // Every pin loads its track's fragments while the others load theirs;
  // through one shared block they would evict each other's at every field.
  ComPtr<IAsyncReader> reader = ComPtr<IAsyncReader>::Attach(track.GetReader());
  ComPtr<IBufferedAsyncReader> shared;
  ComPtr<IBufferedAsyncReader> own;
  if (reader && SUCCEEDED(reader.As(IID_IBufferedAsyncReader, shared)) && shared &&
      SUCCEEDED(shared->Clone(own.Put())) && own) {
    track.SetReader(own.Get());
  }
}

}  // namespace

CUnknown* CDarEdo::CreateInstance(IUnknown* outer, HRESULT* phr) {
  HRESULT hr = S_OK;
  auto* filter = new (std::nothrow) CDarEdo(outer, &hr);
  if (filter == nullptr) {
    if (phr != nullptr) *phr = E_OUTOFMEMORY;
    return nullptr;
  }
  if (FAILED(hr)) {
    delete filter;
    if (phr != nullptr) *phr = hr;
    return nullptr;
  }
  return filter;
}

CDarEdo* CDarEdo::FromFilter(IBaseFilter* filter) { return dynamic_cast<CDarEdo*>(filter); }

CDarEdo::CDarEdo(IUnknown* outer, HRESULT* phr)
    : CBaseDmx(CLSID_DarEdo, "Verdant ISO Demultiplexer", outer, phr, kInitialOutputPins) {}

CDarEdo::~CDarEdo() {
  // The pins point at the tracks: they go first.
  RemoveOutputPins();
  DeleteSources();
}

HRESULT CDarEdo::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IDmxFilterSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  return CBaseDmx::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CDarEdo::CheckPinMediaType(int pinNo, const CMediaType* mt) {
  if (mt == nullptr) return E_POINTER;
  if (GetPinDirection(pinNo) == PINDIR_OUTPUT) {
    CBaseDmxOutputPin* pin = GetOutputPin(pinNo - 1);
    return pin != nullptr ? pin->CheckMediaType(mt) : S_FALSE;
  }
  if (mt->majortype != MEDIATYPE_Stream && mt->majortype != GUID_NULL) return S_FALSE;
  return IsAcceptedInputSubtype(mt->subtype) ? S_OK : S_FALSE;
}

HRESULT CDarEdo::GetPinMediaType(int pinNo, int position, CMediaType* mt) {
  if (mt == nullptr) return E_POINTER;
  if (GetPinDirection(pinNo) == PINDIR_OUTPUT) {
    CBaseDmxOutputPin* pin = GetOutputPin(pinNo - 1);
    return pin != nullptr ? pin->GetMediaType(position, mt) : VFW_S_NO_MORE_ITEMS;
  }
  if (position != 0) return VFW_S_NO_MORE_ITEMS;
  mt->InitMediaType();
  mt->SetType(&MEDIATYPE_Stream);
  const GUID subtype = FourCCGuid("VISO");
  mt->SetSubtype(&subtype);
  return S_OK;
}

HRESULT CDarEdo::DecidePinBufferSize(int pinNo, IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) {
  if (pinNo == 0) return CBaseDmx::DecidePinBufferSize(pinNo, allocator, props);
  if (allocator == nullptr || props == nullptr) return E_POINTER;
  CBaseDmxOutputPin* pin = GetOutputPin(pinNo - 1);
  if (pin == nullptr) return E_UNEXPECTED;
  CMediaType connection;
  pin->ConnectionMediaType(&connection);
  const DWORD maxSampleSize = std::max(pin->MaxSampleSize(), ConvertedPictureBytes(connection));
  const LONG size = maxSampleSize != 0 ? static_cast<LONG>(std::min<DWORD>(maxSampleSize, INT32_MAX))
                                       : kEmptyTrackBufferSize;
  const LONG count = std::clamp<LONG>(kBufferBudget / size, kMinBuffers, kMaxBuffers);
  props->cBuffers = count;
  props->cbBuffer = size;
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = allocator->SetProperties(props, &actual);
  if (FAILED(hr)) return hr;
  if (actual.cBuffers < count || actual.cbBuffer < size) return E_FAIL;
  DMX_TRACE("\nISO.DecideBufferSize(%c, %d x %d)", MediaLetter(connection.majortype), actual.cBuffers,
            actual.cbBuffer);
  pin->SetBufferCount(count);
  return S_OK;
}

HRESULT CDarEdo::CompletePinConnect(int pinNo, IPin* otherPin) {
  if (pinNo != 0) return CBaseDmx::CompletePinConnect(pinNo, otherPin);
  m_connectResult = RunConnectSequence(otherPin);
  if (FAILED(m_connectResult)) return m_connectResult;
  return CBaseDmx::CompletePinConnect(pinNo, otherPin);
}

HRESULT CDarEdo::BreakPinConnect(int pinNo) {
  if (pinNo == 0) {
    if (m_serviceObject != nullptr) m_serviceObject->Reset();
    RemoveOutputPins();
    DeleteSources();
  }
  return CBaseDmx::BreakPinConnect(pinNo);
}

void CDarEdo::DeleteSources() {
  m_sources.clear();
  m_sourceLocations.clear();
}

HRESULT CDarEdo::RunConnectSequence(IPin* upstream) {
  if (m_serviceObject != nullptr) m_serviceObject->Reset();
  RemoveOutputPins();
  DeleteSources();

  ComPtr<IBufferedAsyncReader> reader = ComPtr<IBufferedAsyncReader>::Attach(GetReader());
  if (!reader) return E_FAIL;

  CMediaType inputType;
  CBaseDmxInputPin* input = GetInputPin();
  if (input != nullptr) input->ConnectionMediaType(&inputType);
  HRESULT hr = S_OK;
  try {
    if (inputType.subtype == FourCCGuid("VISM")) {
      hr = OpenManifestSources(upstream);
    } else {
      m_sources.push_back(std::make_unique<CDarEdoSource>(reader.Get(), 0, CreateSampleEntry));
    }
    for (size_t i = 0; SUCCEEDED(hr) && i < m_sources.size(); ++i) hr = m_sources[i]->ParseFile();
    for (size_t i = 0; SUCCEEDED(hr) && i < m_sources.size(); ++i) {
      hr = m_sources[i]->FindMovieFragmentRandomAccess();
    }
    if (SUCCEEDED(hr)) hr = BuildOutputPins();
  } catch (const ArrayError& error) {
    hr = error.Result();
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) {
    // Pins made before the failure point at these tracks.
    RemoveOutputPins();
    DeleteSources();
    return hr;
  }

  // Only the positions start over with a new input; the rate and the
  // recorded segment are the application's and stay as they were.
  m_mediaTimeFormat = TRUE;
  SetCurrentPosition(0, 0);
  m_start = 0;
  // A fragmented source may run past what its headers say.
  LONGLONG duration = MAX_TIME;
  if (!AnySourceFragmented() && FAILED(GetDuration(&duration))) duration = MAX_TIME;
  m_stop = duration;
  return S_OK;
}

bool CDarEdo::AnySourceFragmented() const {
  return std::any_of(m_sources.begin(), m_sources.end(),
                     [](const std::unique_ptr<CDarEdoSource>& source) { return source->fragmented != 0; });
}

HRESULT CDarEdo::BuildOutputPins() {
  ULONGLONG trackCount = 0;
  for (const auto& source : m_sources) trackCount += source->TrackCount();
  if (trackCount == 0) return VFW_E_INVALID_FILE_FORMAT;
  if (trackCount > static_cast<ULONGLONG>(std::numeric_limits<LONG>::max())) return E_OUTOFMEMORY;
  RETURN_IF_FAILED(SetMaxOutputPins(static_cast<LONG>(trackCount)));
  for (const auto& source : m_sources) {
    for (ULONG i = 0; i < source->TrackCount(); ++i) RETURN_IF_FAILED(AddTrackPin(*source, *source->Track(i)));
  }
  return S_OK;
}

HRESULT CDarEdo::AddTrackPin(CDarEdoSource& source, trakBox& track) {
  if (!track.sampleEntry) return S_OK;
  track.PreparePcmLayout();
  if (source.movieHeader && (track.mediaDuration == 0 || !HasOwnTimescale(track))) {
    const mvhdBox& movie = *source.movieHeader;
    // A track with a timescale of its own keeps it: its sample times are in
    // it. Only the duration comes from the movie.
    if (!HasOwnTimescale(track)) track.timescale = movie.timescale;
    const ULONGLONG movieDuration = static_cast<ULONGLONG>(std::max<LONGLONG>(movie.durationRef, 0));
    track.mediaDuration = ScaleSaturated(movieDuration, track.timescale, kUnitsPerSecond);
  }
  if (source.fragmented) {
    UseOwnBlockCache(track);
    track.LoadFragmentsForTime(track.ReferenceToMediaTime(kFragmentPreload));
  }

  CMediaType mt;
  if (track.GetTrackMediaType(0, &mt) != S_OK) return S_OK;
  RETURN_IF_FAILED(AddOutputPin(mt.majortype == MEDIATYPE_Subtitle ? TRUE : FALSE));
  CBaseDmxOutputPin* pin = GetOutputPin(GetOutputPinCount() - 1);
  if (pin == nullptr) return VFW_E_INVALID_FILE_FORMAT;
  if (m_serviceObject != nullptr) m_serviceObject->AnnounceOutputPin(&mt, pin->ServiceField());

  ULONGLONG bufferSize = track.GetMaxSampleSize();
  if (source.fragmented) {
    track.fixedSampleDuration = track.GetDefaultSampleDuration();
    bufferSize = FragmentedBufferSize(mt, bufferSize);
  }
  pin->SetMaxSampleSize(static_cast<DWORD>(std::min(bufferSize, kMaxBufferSize)));
  pin->SetTrack(&track);
  if (track.mediaKind == kMediaKindVideo && FirstVideoPin() == nullptr) SetFirstVideoPin(pin);
  if (track.mediaKind == kMediaKindSound && FirstAudioPin() == nullptr) SetFirstAudioPin(pin);
  return S_OK;
}

const CDarEdoSource* CDarEdo::SourceOfTrack(const trakBox* track) const {
  for (const auto& source : m_sources) {
    for (ULONG i = 0; i < source->TrackCount(); ++i) {
      if (source->Track(i) == track) return source.get();
    }
  }
  return nullptr;
}

// The headers of a fragmented movie usually say 0: the whole length is in
// "mehd" when the writer gave one, else at the end of the last fragment the
// index names. Players need it for a length and a seek bar.
LONGLONG CDarEdo::TrackDuration(trakBox& track) const {
  const CDarEdoSource* source = SourceOfTrack(&track);
  if (source != nullptr && source->fragmented) {
    if (source->fragmentDurationRef > 0) return source->fragmentDurationRef;
    LONGLONG indexedEnd = 0;
    if (track.GetIndexedEndTime(&indexedEnd) == S_OK) return track.MediaToReferenceTime(indexedEnd);
  }
  const ULONGLONG media = std::min<ULONGLONG>(track.mediaDuration, std::numeric_limits<LONGLONG>::max());
  LONGLONG duration = track.MediaToReferenceTime(static_cast<LONGLONG>(media));
  if (source != nullptr && source->movieHeader) duration = std::max(duration, source->movieHeader->durationRef);
  return duration;
}

HRESULT CDarEdo::GetDuration(LONGLONG* duration) {
  if (duration == nullptr) return E_POINTER;
  LONGLONG longest = 0;
  const int count = GetOutputPinCount();
  for (int k = 0; k < count; ++k) {
    CBaseDmxOutputPin* pin = GetOutputPin(k);
    trakBox* track = pin != nullptr ? pin->Track() : nullptr;
    if (track == nullptr) continue;
    longest = std::max(longest, TrackDuration(*track));
  }
  if (IsMediaTimeFormat()) {
    *duration = longest;
    return S_OK;
  }
  return TimeToFrame(longest, duration);
}

// The position is answered with pins present too: the graph's position and
// a seek that keeps the current position need it while streams play.
HRESULT CDarEdo::GetCurrentPosition(LONGLONG* current) {
  if (current == nullptr) return E_POINTER;
  if (IsMediaTimeFormat()) {
    *current = CurrentTime();
    return S_OK;
  }
  if (FirstVideoPin() == nullptr) return E_UNEXPECTED;
  *current = CurrentFrame();
  return S_OK;
}

HRESULT CDarEdo::UpdateCurrentPosition(BOOL flush) {
  CAutoLock hold(FilterLock());
  if (RecordSegment(State())) return S_OK;
  const LONGLONG start = StartPosition();
  if (IsMediaTimeFormat()) {
    LONGLONG frame = 0;
    const HRESULT hr = TimeToFrame(start, &frame);
    if (FAILED(hr) && hr != E_NOTIMPL) return hr;
    SetCurrentPosition(start, SUCCEEDED(hr) ? frame : 0);
  } else {
    LONGLONG time = 0;
    RETURN_IF_FAILED(FrameToTime(start, &time));
    SetCurrentPosition(time, start);
  }
  DMX_TRACE("\nCDarEdo::UpdateCurrentPosition - State = %s", StateName(State()));
  if (State() == State_Stopped) return S_OK;
  const int count = GetOutputPinCount();
  if (!flush) {
    for (int k = 0; k < count; ++k) {
      CBaseDmxOutputPin* pin = GetOutputPin(k);
      if (pin != nullptr) pin->RequestRestart();
    }
    return S_OK;
  }
  DeliverBeginFlushAll(0);
  for (int k = 0; k < count; ++k) {
    CBaseDmxOutputPin* pin = GetOutputPin(k);
    if (pin != nullptr) pin->Inactive();
  }
  DeliverEndFlushAll(0);
  for (int k = 0; k < count; ++k) {
    CBaseDmxOutputPin* pin = GetOutputPin(k);
    if (pin != nullptr) pin->Active();
  }
  return S_OK;
}

HRESULT CDarEdo::FrameToTime(LONGLONG frame, LONGLONG* time) {
  if (time == nullptr) return E_POINTER;
  CBaseDmxOutputPin* video = FirstVideoPin();
  trakBox* track = video != nullptr ? video->Track() : nullptr;
  if (track == nullptr) {
    *time = frame;
    return S_OK;
  }
  LONGLONG end = 0;
  return track->SampleNumberToReferenceTimes(frame, time, &end);
}

HRESULT CDarEdo::TimeToFrame(LONGLONG time, LONGLONG* frame) {
  if (frame == nullptr) return E_POINTER;
  CBaseDmxOutputPin* video = FirstVideoPin();
  trakBox* track = video != nullptr ? video->Track() : nullptr;
  if (track == nullptr) return E_NOTIMPL;
  return track->SampleNumberAtReferenceTime(time, frame);
}

BOOL CDarEdo::IsRateSupported(double rate) { return rate != 0.0 ? TRUE : FALSE; }
