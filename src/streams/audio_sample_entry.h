// AudioSampleEntry: the sample entry of a sound track ("smhd"), reading the
// ISO audio fields and the QuickTime sound description versions 0, 1 and 2,
// and looking into QuickTime's "wave" extension for the codec configuration.
//
// Owned by its trakBox; built and read on the parsing thread. Afterwards
// only the media-type code adjusts `channelCount`, `sampleSize` and
// `sampleRate` for formats whose fixed fields are known to mislead, under
// the track's tableLock.
#pragma once

#include "container/sample_entry.h"

class AudioSampleEntry : public SampleEntry {
 public:
  AudioSampleEntry(const Box& entryHeader, trakBox* owner);

  // The common fields, then the sound description of `soundVersion`.
  HRESULT ReadFixedFields(IAsyncReader* reader, LONGLONG* position, LONGLONG* remaining) override;
  // As the base walk, but a "wave" child is walked in turn and ends the walk
  // of the entry's own children.
  HRESULT ParseChildren(const BYTE* data, LONGLONG size) override;
  // The audio list (audio_media_type.h).
  HRESULT GetMediaType(int index, CMediaType* mediaType, IAsyncReader* reader) override;

  WORD PcmChannelCount() const override { return channelCount; }
  WORD PcmBitsPerSample() const override { return sampleSize; }
  // The PCM-like formats of pcm_layout.h, "lpcm" and µ-law among them.
  DWORD PcmFrameBytes() const override;

  // QuickTime sound description version; 0 for ISO entries.
  WORD soundVersion = 0;
  WORD channelCount = 0;
  // Bits per sample (version 2: constBitsPerChannel).
  WORD sampleSize = 0;
  // Samples per second, integer part.
  DWORD sampleRate = 0;
  // Version 2: formatSpecificFlags (float, big-endian, signed, packed ...)
  // and constBytesPerAudioPacket.
  DWORD lpcmFlags = 0;
  DWORD bytesPerPacket = 0;
  // From an "enda" box in "wave".
  bool littleEndian = false;

 private:
  HRESULT ReadSoundDescriptionV0V1(BoxFieldReader& fields);
  HRESULT ReadSoundDescriptionV2(BoxFieldReader& fields);
};
