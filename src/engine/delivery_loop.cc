// CBaseDmxOutputPin: the delivery loop (Process) and the filling of one
// sample (FillSample), on the pin's worker thread.
#include "container/trak_box.h"
#include "diagnostics/trace.h"
#include "engine/base_dmx.h"
#include "engine/output_pin.h"
#include "engine/seeking.h"
#include "platform/fourcc.h"
#include "platform/sample_interfaces.h"
#include "streams/sample_converter.h"

#include <cmath>
#include <limits>
#include <utility>

namespace {

// A sample ending no later than this after the segment start is preroll.
constexpr REFERENCE_TIME kPrerollLimit = 10000;
// A timed-text sample starts with its text length, 16 bits big-endian.
constexpr LONG kTextLengthBytes = 2;

// A stream time from a double: truncated toward zero, saturated at the
// 64-bit ends (a stop of the largest value divided by a rate below 1 must
// not wrap into the past).
LONGLONG SaturatingTime(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (value >= kLimit) return std::numeric_limits<LONGLONG>::max();
  if (value <= -kLimit) return std::numeric_limits<LONGLONG>::min();
  return static_cast<LONGLONG>(value);
}

// (a - b) / rate, computed in double so that neither the difference nor
// the quotient can overflow.
LONGLONG ScaledDifference(LONGLONG a, LONGLONG b, double rate) {
  return SaturatingTime((static_cast<double>(a) - static_cast<double>(b)) / rate);
}

const char* DeliverFailureTrace(DWORD mediaKind) {
  switch (mediaKind) {
    case kMediaKindSound:
      return "  Process: Audio Deliver failed: %s";
    case kMediaKindVideo:
      return "  Process: Video Deliver failed: %s";
    default:
      return "  Process: Non Audio/Video Deliver failed: %s";
  }
}

}  // namespace

HRESULT CBaseDmxOutputPin::Process() {
  if (m_dmx == nullptr) return E_UNEXPECTED;
  if (!IsConnected()) return S_OK;
  CSeeking* seeking = m_dmx->GetSeeking();
  trakBox* track = m_track;
  if (seeking == nullptr || track == nullptr) return m_dmx->NotifyGraphOfError(E_UNEXPECTED);
  const bool timedText = track->FormatFourCC() == FourCC("tx3g");
  m_chunkReader.Start(Source(), track);
  BOOL first = TRUE;
  HRESULT hr = S_OK;

  for (;;) {
    // A new pass: the segment may have changed under a restart.
    m_restartRequested = FALSE;
    REFERENCE_TIME segStart = 0, segStop = 0;
    double rate = 1.0;
    hr = seeking->GetSegment(&segStart, &segStop, &rate);
    if (FAILED(hr)) return m_dmx->NotifyGraphOfError(hr);
    m_rate = rate;
    DMX_TRACE("\nCBaseDmxOutputPin::Process: Start=%s, end=%s", TraceTime(segStart).c_str(),
              TraceTime(segStop).c_str());

    if (track->mediaKind == kMediaKindSound && rate < 0) {
      DMX_TRACE("\nCBaseDmxOutputPin::Process: Cannot support reverse playback of audio, so deliver EOS");
      DeliverEndOfStream();
      return S_OK;
    }
    DeliverNewSegment(segStart, segStop, rate);
    const LONGLONG segLength = ScaledDifference(segStop, segStart, rate);
    DMX_TRACE("\nCBaseDmxOutputPin::Process: Adjusted Start=%s, Adjusted Stop=%s", TraceTime(segStart).c_str(),
              TraceTime(segLength).c_str());

    const LONGLONG startTime = track->ReferenceToMediaTime(segStart);
    track->SelectFragmentForTime(startTime);
    track->LoadFragmentsForTime(startTime);
    LONGLONG current = 0;
    hr = track->PreviousSyncSampleAtTime(startTime, &current);
    if (FAILED(hr)) return m_dmx->NotifyGraphOfError(hr);
    // These formats start one key frame early: their decoders want the
    // pictures before the start for references.
    if (hr == S_OK && rate > 0 && track->IsFramedVideoFormat()) {
      hr = track->PreviousSyncSample(current - 1, &current);
      if (FAILED(hr)) return m_dmx->NotifyGraphOfError(hr);
    }
    m_currentSample = current;

    bool restart = false;
    for (;;) {
      LONGLONG sampleNumber = m_currentSample;
      track->LoadFragmentsForSample(sampleNumber);
      LONGLONG start = 0, stop = 0, offset = 0, size = 0;
      LONG count = 0;
      hr = track->GetSampleInfo(sampleNumber, &start, &stop, &offset, &size, &count);
      if (FAILED(hr)) return m_dmx->NotifyGraphOfError(hr);
      if (hr == S_FALSE) break;
      // Every read carries at least its own sample: the walk must move on.
      if (count < 1) count = 1;
      m_chunkReader.SetSample(sampleNumber, offset);
      track->ConvertRangeToReference(&start, &stop);

      IMediaSample* sample = nullptr;
      hr = GetDeliveryBuffer(&sample, &start, &stop, 0);
      if (FAILED(hr)) {
        DMX_TRACE("\nDAREdo-Process: GetDeliveryBuffer failed: %s", TraceError(hr).c_str());
        DeliverEndOfStream();
        return hr;
      }
      if (timedText) {
        BYTE length[kTextLengthBytes] = {};
        hr = m_chunkReader.Read(offset, kTextLengthBytes, length);
        if (hr != S_OK) {
          sample->Release();
          break;
        }
        offset += kTextLengthBytes;
        size = (static_cast<LONGLONG>(length[0]) << 8) | length[1];
      }
      hr = FillSample(sample, offset, size);
      if (hr != S_OK) {
        sample->Release();
        break;
      }
      // Frames are the first video track's samples: another pin's sample
      // number is no frame, and a relative seek in frames would start there.
      if (m_dmx->FirstVideoPin() == this) {
        seeking->SetCurrentPosition(start, sampleNumber);
      } else {
        seeking->SetCurrentTime(start);
      }

      LONGLONG streamStart = ScaledDifference(start, segStart, rate);
      LONGLONG streamStop = ScaledDifference(stop, segStart, rate);
      if (rate < 0) std::swap(streamStart, streamStop);
      sample->SetPreroll(streamStop <= kPrerollLimit ? TRUE : FALSE);
      if (streamStop < streamStart) streamStop = streamStart + 1;
      sample->SetTime(&streamStart, &streamStop);
      LONGLONG mediaStart = sampleNumber;
      LONGLONG mediaStop = sampleNumber + count;
      sample->SetMediaTime(&mediaStart, &mediaStop);
      sample->SetSyncPoint(track->IsSyncSample(sampleNumber));
      sample->SetDiscontinuity(first);
      first = FALSE;

      hr = Deliver(sample);
      if (hr != S_OK) {
        DMX_TRACE(DeliverFailureTrace(track->mediaKind), TraceError(hr).c_str());
        return hr;
      }
      LONGLONG next = sampleNumber + count;
      m_currentSample = next;

      DWORD command = 0;
      if (CheckRequest(&command, 0)) {
        hr = S_OK;
        break;
      }
      if (m_restartRequested) {
        DMX_TRACE("  Process: RestartProcessLoop");
        restart = true;
        break;
      }
      if (rate < 0) {
        if (next <= count) {
          // A seek may have jumped into a later fragment: reverse play goes
          // on through the fragments before it.
          hr = track->SelectPreviousFragment(&next);
          if (hr == S_FALSE) {
            hr = S_OK;
            break;
          }
        } else {
          hr = track->PreviousSyncSample(next - count - 1, &next);
        }
        if (FAILED(hr)) {
          DMX_TRACE("\nProcess: failed %s to find key frame before frame %d", TraceTime(hr).c_str(),
                    static_cast<int>(m_currentSample));
          return m_dmx->NotifyGraphOfError(hr);
        }
        m_currentSample = next;
      }
      if (streamStop > segLength) {
        hr = S_OK;
        break;
      }
    }
    if (restart) continue;

    DeliverEndOfStream();
    if (FAILED(hr)) m_dmx->NotifyGraphOfError(hr);
    return hr;
  }
}

HRESULT CBaseDmxOutputPin::FillSample(IMediaSample* sample, LONGLONG offset, LONGLONG size) {
  if (size < 0 || size > std::numeric_limits<LONG>::max()) return VFW_E_BUFFER_OVERFLOW;
  const LONG length = static_cast<LONG>(size);
  // A converter may deliver more than is stored (padded picture rows).
  HRESULT hr = sample->SetActualDataLength(m_converter ? m_converter->OutputLength(length) : length);
  if (FAILED(hr)) return hr;
  BYTE* data = nullptr;
  hr = sample->GetPointer(&data);
  if (FAILED(hr)) return hr;
  if (m_converter) return m_converter->Convert(Source(), offset, data, length);
  return m_chunkReader.Read(offset, length, data);
}
