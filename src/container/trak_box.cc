#include "container/trak_box.h"

#include "container/box_walk.h"
#include "platform/fourcc.h"

namespace {

// Creation and modification times, version 1 and version 0.
constexpr LONGLONG kLongTimesBytes = 16;
constexpr LONGLONG kShortTimesBytes = 8;
// "tkhd": reserved word and duration after the track ID.
constexpr LONGLONG kTrackHeaderLongTail = 4 + 8;
constexpr LONGLONG kTrackHeaderShortTail = 4 + 4;
// "tkhd": reserved, layer, alternate group, volume, reserved before the matrix.
constexpr LONGLONG kTrackHeaderBeforeMatrix = 16;
// "hdlr": pre-defined word and handler type.
constexpr LONGLONG kHandlerFieldBytes = 8;
constexpr LONGLONG kHandlerPreDefinedBytes = 4;
constexpr char kLanguageLetterBase = 0x60;

}  // namespace

trakBox::trakBox(Box& header, IAsyncReader* reader, SampleEntryFactory entryFactory)
    : FullBox(header),
      sampleTable(std::make_unique<trakFragment>()),
      reader_(reader),
      entryFactory_(entryFactory != nullptr ? entryFactory : CreatePlainSampleEntry) {}

trakBox::~trakBox() {
  // The entry goes first: its destructor may still look at the track.
  sampleEntry.reset();
  randomAccessEntries.Free();
  sampleTable.reset();
}

IAsyncReader* trakBox::GetReader() {
  IAsyncReader* reader = reader_.Get();
  if (reader != nullptr) reader->AddRef();
  return reader;
}

void trakBox::SetReader(IAsyncReader* reader) { reader_ = ComPtr<IAsyncReader>(reader); }

DWORD trakBox::FormatFourCC() const { return sampleEntry ? sampleEntry->Format() : 0; }

HRESULT trakBox::ParseTrack(LONGLONG* position) {
  static constexpr ChildHandler<trakBox> kTrackChildren[] = {
      {FourCC("mdia"), &trakBox::ParseMedia},
      {FourCC("tkhd"), &trakBox::ParseTrackHeader},
  };
  return WalkChildren(*this, kTrackChildren, reader_.Get(), position, *this);
}

HRESULT trakBox::ParseTrackHeader(LONGLONG* position, LONGLONG* remaining, Box& child) {
  FullBox box(child);
  RETURN_IF_FAILED(box.ReadVersionAndFlags(reader_.Get(), position, remaining));
  RETURN_IF_FAILED(ClaimChild(remaining, box));
  BoxFieldReader fields = box.Fields(reader_.Get(), position);
  const bool longTimes = box.version == 1;
  RETURN_IF_FAILED(fields.Skip(longTimes ? kLongTimesBytes : kShortTimesBytes));
  RETURN_IF_FAILED(fields.U32(&trackId));
  RETURN_IF_FAILED(fields.Skip(longTimes ? kTrackHeaderLongTail : kTrackHeaderShortTail));
  RETURN_IF_FAILED(fields.Skip(kTrackHeaderBeforeMatrix));
  for (DWORD& value : matrix) RETURN_IF_FAILED(fields.U32(&value));
  // Width and height are not kept.
  fields.SkipRest();
  return S_OK;
}

HRESULT trakBox::ParseMedia(LONGLONG* position, LONGLONG* remaining, Box& child) {
  static constexpr ChildHandler<trakBox> kMediaChildren[] = {
      {FourCC("hdlr"), &trakBox::ParseHandler},
      {FourCC("mdhd"), &trakBox::ParseMediaHeader},
      {FourCC("minf"), &trakBox::ParseMediaInformation},
  };
  RETURN_IF_FAILED(ClaimChild(remaining, child));
  RETURN_IF_FAILED(WalkChildren(*this, kMediaChildren, reader_.Get(), position, child));
  // "mdhd" may follow "minf", so the entry learns the timescale only now.
  if (sampleEntry) sampleEntry->mediaTimescale = timescale;
  return S_OK;
}

HRESULT trakBox::ParseMediaHeader(LONGLONG* position, LONGLONG* remaining, Box& child) {
  FullBox box(child);
  RETURN_IF_FAILED(box.ReadVersionAndFlags(reader_.Get(), position, remaining));
  RETURN_IF_FAILED(ClaimChild(remaining, box));
  BoxFieldReader fields = box.Fields(reader_.Get(), position);
  if (box.version == 1) {
    RETURN_IF_FAILED(fields.Skip(kLongTimesBytes));
    RETURN_IF_FAILED(fields.U32(&timescale));
    RETURN_IF_FAILED(fields.U64(&mediaDuration));
  } else {
    DWORD duration = 0;
    RETURN_IF_FAILED(fields.Skip(kShortTimesBytes));
    RETURN_IF_FAILED(fields.U32(&timescale));
    RETURN_IF_FAILED(fields.U32(&duration));
    mediaDuration = duration;
  }
  WORD packed = 0;
  RETURN_IF_FAILED(fields.U16(&packed));
  language[0] = static_cast<char>(((packed >> 10) & 0x1F) + kLanguageLetterBase);
  language[1] = static_cast<char>(((packed >> 5) & 0x1F) + kLanguageLetterBase);
  language[2] = static_cast<char>((packed & 0x1F) + kLanguageLetterBase);
  language[3] = '\0';
  fields.SkipRest();
  return S_OK;
}

HRESULT trakBox::ParseHandler(LONGLONG* position, LONGLONG* remaining, Box& child) {
  FullBox box(child);
  RETURN_IF_FAILED(box.ReadVersionAndFlags(reader_.Get(), position, remaining));
  RETURN_IF_FAILED(ClaimChild(remaining, box));
  BoxFieldReader fields = box.Fields(reader_.Get(), position);
  if (!fields.Fits(kHandlerFieldBytes)) return STG_E_INVALIDHEADER;
  RETURN_IF_FAILED(fields.Skip(kHandlerPreDefinedBytes));
  RETURN_IF_FAILED(fields.U32(&handlerType));
  // The reserved words and the name are not read.
  fields.SkipRest();
  return S_OK;
}

HRESULT trakBox::ParseMediaInformation(LONGLONG* position, LONGLONG* remaining, Box& child) {
  static constexpr ChildHandler<trakBox> kMediaInformationChildren[] = {
      {FourCC("vmhd"), &trakBox::ParseMediaKind},   {FourCC("smhd"), &trakBox::ParseMediaKind},
      {FourCC("hint"), &trakBox::ParseMediaKind},   {FourCC("nmhd"), &trakBox::ParseMediaKind},
      {FourCC("stbl"), &trakBox::ParseSampleTable},
  };
  RETURN_IF_FAILED(ClaimChild(remaining, child));
  mediaKind = kMediaKindNone;
  RETURN_IF_FAILED(WalkChildren(*this, kMediaInformationChildren, reader_.Get(), position, child));
  return CreateSampleEntry();
}

// The media header boxes only say what kind of media the track carries;
// when several occur, the last one wins.
HRESULT trakBox::ParseMediaKind(LONGLONG* position, LONGLONG* remaining, Box& child) {
  switch (child.type) {
    case FourCC("vmhd"):
      mediaKind = kMediaKindVideo;
      break;
    case FourCC("smhd"):
      mediaKind = kMediaKindSound;
      break;
    case FourCC("hint"):
      mediaKind = kMediaKindHint;
      break;
    case FourCC("nmhd"):
      mediaKind = kMediaKindNull;
      break;
    default:
      break;
  }
  RETURN_IF_FAILED(ClaimChild(remaining, child));
  child.Fields(reader_.Get(), position).SkipRest();
  return S_OK;
}

HRESULT trakBox::CreateSampleEntry() {
  if (!hasSampleEntry) return S_OK;
  sampleEntry.reset(entryFactory_(mediaKind, sampleEntryHeader, this));
  if (!sampleEntry) return E_OUTOFMEMORY;
  LONGLONG position = static_cast<LONGLONG>(sampleEntryOffset);
  LONGLONG remaining = sampleEntryHeader.size;
  HRESULT hr = sampleEntry->ReadFixedFields(reader_.Get(), &position, &remaining);
  if (hr == S_OK) hr = sampleEntry->ReadPayload(reader_.Get(), &position);
  lastResult = hr;
  return hr;
}
