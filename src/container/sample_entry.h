// SampleEntry: the base of a track's sample description entry (the single
// entry of "stsd"). It reads the fields every entry shares, keeps all child
// boxes as `payload`, and walks them in memory to pick out the codec
// configuration. The video, audio and null entries of the streams layer
// derive from it and fill the hooks; a plain SampleEntry (no media header,
// or a hint track) offers no media type.
//
// Owned by its trakBox, built once on the parsing thread after the track's
// "minf" walk (trakBox::CreateSampleEntry); afterwards only the one-time
// probes of the media-type code change it, under the track's tableLock.
#pragma once

#include "container/box.h"
#include "container/byte_buffer.h"

class trakBox;
class CMediaType;

// What the entry object was built for: the media kind of its track, with
// hint tracks and tracks without a media header both plain.
enum SampleEntryKind : DWORD {
  kSampleEntryPlain = 0,
  kSampleEntryVideo = 1,
  kSampleEntryAudio = 2,
  kSampleEntryNull = 4,
};

class SampleEntry : public Box {
 public:
  // Copies the entry's header (type = format FourCC, `size` = payload size);
  // the header's payload buffer, if any, is not taken.
  SampleEntry(const Box& entryHeader, trakBox* owner, DWORD kind);
  ~SampleEntry() override;

  // The format FourCC ("avc1", "mp4a" ...), file order.
  DWORD Format() const { return type; }

  // The fields every entry begins with: 6 reserved bytes and the data
  // reference index. The entry's payload must fit in *remaining
  // (VFW_E_INVALID_FILE_FORMAT), which then loses it; a field past the
  // payload is STG_E_INVALIDHEADER. Video and audio entries read their own
  // fields after these.
  virtual HRESULT ReadFixedFields(IAsyncReader* reader, LONGLONG* position, LONGLONG* remaining);
  // The rest of the entry (its child boxes) into `payload`, then
  // ParseChildren over it. The walk's result is not returned: malformed
  // children only end the walk.
  virtual HRESULT ReadPayload(IAsyncReader* reader, LONGLONG* position);
  // A child header at *cursor; VFW_E_INVALID_FILE_FORMAT when its payload
  // runs past *remaining. On success the cursor is past the header.
  virtual HRESULT ReadChildHeaderFromMemory(Box& child, const BYTE** cursor, LONGLONG* remaining);
  // Walks the child boxes in `data` and dispatches each by type. A tail of
  // 8 bytes or fewer is ignored; the first failure or non-S_OK handler
  // result ends the walk and is returned.
  virtual HRESULT ParseChildren(const BYTE* data, LONGLONG size);
  // The media type at `index` of this entry's list; the plain entry has
  // none (E_UNEXPECTED). `reader` is the track's byte source, for formats
  // whose parameters come from the first sample.
  virtual HRESULT GetMediaType(int index, CMediaType* mediaType, IAsyncReader* reader);
  // Replaces `payload` with a copy of `data` and walks it as ParseChildren.
  virtual HRESULT SetPayload(LONG size, const BYTE* data);

  // Child handlers: the child's header, its payload and payload size.
  // The ES descriptor: objectTypeIndication and the decoder-specific info.
  virtual HRESULT OnEsds(const Box& child, const BYTE* data, LONGLONG size);
  virtual HRESULT OnWfex(const Box& child, const BYTE* data, LONGLONG size);
  virtual HRESULT OnDvc1(const Box& child, const BYTE* data, LONGLONG size);
  virtual HRESULT OnAvcC(const Box& child, const BYTE* data, LONGLONG size);
  virtual HRESULT OnHvcC(const Box& child, const BYTE* data, LONGLONG size);
  // Traced for diagnostics, nothing kept.
  virtual HRESULT OnColr(const Box& child, const BYTE* data, LONGLONG size);
  // Ignored here; the video entry keeps the pixel aspect ratio.
  virtual HRESULT OnPasp(const Box& child, const BYTE* data, LONGLONG size);

  // For the PCM layout of the track: channels and bits per sample of an
  // audio entry; 0 for every other kind.
  virtual WORD PcmChannelCount() const { return 0; }
  virtual WORD PcmBitsPerSample() const { return 0; }
  // Bytes of one frame (all channels) of PCM whose constant-size samples
  // are grouped per chunk; 0 for formats that are not. Here "twos", "sowt"
  // and "raw " from the two values above; audio entries know more formats.
  virtual DWORD PcmFrameBytes() const;

  trakBox* track = nullptr;
  WORD dataReferenceIndex = 0;
  DWORD entryKind = kSampleEntryPlain;
  // Every byte after the fixed fields (all child boxes), as in the file.
  CBuffer payload;
  // The codec configuration taken from one child box; empty if none.
  CBuffer codecConfig;
  // The track's media timescale, copied in after the media box is read.
  DWORD mediaTimescale = 0;
  // From "esds"; kNoObjectType until one is read.
  static constexpr DWORD kNoObjectType = 0xFFFFFFFF;
  DWORD objectTypeIndication = kNoObjectType;

 protected:
  // The handler for one child, by type (the On* slots); other types S_OK.
  HRESULT DispatchChild(const Box& child, const BYTE* data, LONGLONG size);

  // The child walk shared by ParseChildren and the entries that look into
  // nested boxes (QuickTime's "wave"): `onChild` gets each child header with
  // its payload, and a non-S_OK result ends the walk.
  template <class OnChild>
  HRESULT WalkChildBoxes(const BYTE* data, LONGLONG size, OnChild onChild);
};

// Creates the entry object for a track of `mediaKind` (1 video, 2 sound,
// 3 hint, 4 null, 0 none) from the recorded entry header. Returns null when
// memory runs out. The streams layer supplies the real one; without it every
// track gets a plain SampleEntry.
using SampleEntryFactory = SampleEntry* (*)(DWORD mediaKind, const Box& entryHeader, trakBox* track);

// The container's own factory: a plain SampleEntry of kind 0 for every track.
SampleEntry* CreatePlainSampleEntry(DWORD mediaKind, const Box& entryHeader, trakBox* track);

template <class OnChild>
HRESULT SampleEntry::WalkChildBoxes(const BYTE* data, LONGLONG size, OnChild onChild) {
  const BYTE* cursor = data;
  LONGLONG left = size;
  while (left > kBoxHeaderSize) {
    Box child;
    HRESULT hr = ReadChildHeaderFromMemory(child, &cursor, &left);
    if (hr != S_OK) return hr;
    const BYTE* childData = cursor;
    const LONGLONG childSize = child.size;
    hr = child.ParseFromMemory(&cursor, &left);
    if (hr != S_OK) return hr;
    hr = onChild(child, childData, childSize);
    if (hr != S_OK) return hr;
  }
  return S_OK;
}
