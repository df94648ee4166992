#include "container/sample_entry.h"

#include "diagnostics/trace.h"
#include "platform/fourcc.h"

#include <algorithm>
#include <cinttypes>
#include <new>

namespace {

constexpr LONGLONG kReservedBytes = 6;
constexpr LONGLONG kVersionAndFlagsBytes = 4;
// Expandable descriptor sizes stop growing here: enough for any box, and the
// accumulator cannot overflow however many continuation bytes follow.
constexpr ULONGLONG kDescriptorSizeCap = 0x1FFFFFFF;
constexpr ULONGLONG kMinimumEsDescriptorSize = 3;
constexpr BYTE kStreamDependenceFlag = 0x80;
constexpr BYTE kUrlFlag = 0x40;
constexpr BYTE kOcrStreamFlag = 0x20;
// Stream type, buffer size, maximum and average bit rate after the object
// type byte of a decoder configuration descriptor.
constexpr LONGLONG kDecoderConfigFixedBytes = 12;
constexpr ULONGLONG kDecoderConfigWithSpecificInfo = 14;
constexpr BYTE kVc1AdvancedProfileBits = 0xC0;
constexpr LONGLONG kVc1AdvancedHeaderOffset = 7;
constexpr LONGLONG kVc1SimpleHeaderOffset = 16;
constexpr BYTE kVc1SequenceStartCode[] = {0x00, 0x00, 0x01, 0x0F};
constexpr BYTE kVc1ConfigMarker = 0x01;

// Reads bytes of a child payload that sits wholly in memory; every read is
// bounded by what is left, and a shortfall makes the parse stop quietly.
class MemoryCursor {
 public:
  MemoryCursor(const BYTE* data, LONGLONG size) : at_(data), left_(size > 0 ? size : 0) {}

  bool Byte(BYTE* value) {
    if (left_ < 1) return false;
    *value = *at_++;
    --left_;
    return true;
  }
  bool Skip(LONGLONG count) {
    if (count < 0 || left_ < count) return false;
    at_ += count;
    left_ -= count;
    return true;
  }
  // An expandable descriptor size: 7 bits per byte while the top bit is set.
  bool DescriptorSize(ULONGLONG* size) {
    ULONGLONG value = 0;
    BYTE byte = 0;
    do {
      if (!Byte(&byte)) return false;
      if (value < kDescriptorSizeCap) value = (value << 7) | (byte & 0x7F);
    } while (byte & 0x80);
    *size = std::min(value, kDescriptorSizeCap);
    return true;
  }
  const BYTE* At() const { return at_; }
  LONGLONG Left() const { return left_; }

 private:
  const BYTE* at_;
  LONGLONG left_;
};

// Payload sizes in memory always fit a buffer's 32-bit length: the entry's
// payload was read into one.
LONG AsBufferLength(LONGLONG size) { return static_cast<LONG>(std::clamp<LONGLONG>(size, 0, INT32_MAX)); }

}  // namespace

SampleEntry::SampleEntry(const Box& entryHeader, trakBox* owner, DWORD kind) : track(owner), entryKind(kind) {
  size = entryHeader.size;
  type = entryHeader.type;
  std::copy(std::begin(entryHeader.userType), std::end(entryHeader.userType), userType);
  extendsToEnd = entryHeader.extendsToEnd;
}

SampleEntry::~SampleEntry() = default;

HRESULT SampleEntry::ReadFixedFields(IAsyncReader* reader, LONGLONG* position, LONGLONG* remaining) {
  // The entry header was resolved inside "stsd", so its size is known.
  if (size < 0 || size > *remaining) return VFW_E_INVALID_FILE_FORMAT;
  *remaining -= size;
  BoxFieldReader fields = Fields(reader, position);
  RETURN_IF_FAILED(fields.Skip(kReservedBytes));
  return fields.U16(&dataReferenceIndex);
}

HRESULT SampleEntry::ReadPayload(IAsyncReader* reader, LONGLONG* position) {
  if (size <= 0) return S_OK;
  // The entry's size is as untrusted as any other: a payload that runs past
  // the end of the source is refused before a buffer is sized for it.
  LONGLONG total = 0;
  LONGLONG available = 0;
  if (SUCCEEDED(reader->Length(&total, &available)) && size > total - std::min(*position, total)) {
    lastResult = S_FALSE;
    return S_FALSE;
  }
  if (size > INT32_MAX) return E_OUTOFMEMORY;
  const LONG length = static_cast<LONG>(size);
  payload.Empty();
  BYTE* destination = nullptr;
  RETURN_IF_FAILED(payload.GetWritePointer(&destination, length));
  lastResult = reader->SyncRead(*position, length, destination);
  if (lastResult != S_OK) return lastResult;
  RETURN_IF_FAILED(payload.SetLength(length));
  *position += length;
  size = 0;
  ParseChildren(payload.Data(), payload.Length());
  return S_OK;
}

HRESULT SampleEntry::ReadChildHeaderFromMemory(Box& child, const BYTE** cursor, LONGLONG* remaining) {
  const HRESULT hr = child.ReadHeaderFromMemory(cursor, remaining);
  if (hr != STG_E_INVALIDHEADER || *remaining < kBoxHeaderSize) return hr;
  // The header reader gives one code for a header cut short and a payload
  // that overruns; only the latter is a child larger than its parent.
  const DWORD declared = LoadBigEndian32(*cursor);
  const bool plainHeaderComplete = declared >= kBoxHeaderSize && LoadBigEndian32(*cursor + 4) != kUuidBoxType;
  return plainHeaderComplete ? VFW_E_INVALID_FILE_FORMAT : hr;
}

HRESULT SampleEntry::ParseChildren(const BYTE* data, LONGLONG size) {
  return WalkChildBoxes(data, size, [this](const Box& child, const BYTE* childData, LONGLONG childSize) {
    return DispatchChild(child, childData, childSize);
  });
}

HRESULT SampleEntry::GetMediaType(int, CMediaType*, IAsyncReader*) { return E_UNEXPECTED; }

HRESULT SampleEntry::SetPayload(LONG size, const BYTE* data) {
  RETURN_IF_FAILED(payload.Assign(data, size));
  return ParseChildren(payload.Data(), payload.Length());
}

HRESULT SampleEntry::DispatchChild(const Box& child, const BYTE* data, LONGLONG size) {
  switch (child.type) {
    case FourCC("esds"):
      return OnEsds(child, data, size);
    case FourCC("wfex"):
      return OnWfex(child, data, size);
    case FourCC("dvc1"):
      return OnDvc1(child, data, size);
    case FourCC("avcC"):
      return OnAvcC(child, data, size);
    case FourCC("hvcC"):
      return OnHvcC(child, data, size);
    case FourCC("colr"):
      return OnColr(child, data, size);
    case FourCC("pasp"):
      return OnPasp(child, data, size);
    default:
      return S_OK;
  }
}

HRESULT SampleEntry::OnEsds(const Box&, const BYTE* data, LONGLONG size) {
  MemoryCursor esds(data, size);
  BYTE flags = 0;
  ULONGLONG descriptorSize = 0;
  // Tags are not checked; a descriptor that does not add up ends the parse
  // with whatever was found so far, and the entry stays usable.
  if (!esds.Skip(kVersionAndFlagsBytes) || !esds.Skip(1) || !esds.DescriptorSize(&descriptorSize)) return S_OK;
  if (descriptorSize > static_cast<ULONGLONG>(esds.Left()) || descriptorSize < kMinimumEsDescriptorSize) return S_OK;
  if (!esds.Skip(2) || !esds.Byte(&flags)) return S_OK;
  if ((flags & kStreamDependenceFlag) && !esds.Skip(2)) return S_OK;
  if (flags & kUrlFlag) {
    BYTE urlLength = 0;
    if (!esds.Byte(&urlLength) || !esds.Skip(urlLength)) return S_OK;
  }
  if ((flags & kOcrStreamFlag) && !esds.Skip(2)) return S_OK;

  if (!esds.Skip(1) || !esds.DescriptorSize(&descriptorSize)) return S_OK;
  descriptorSize = std::min(descriptorSize, static_cast<ULONGLONG>(esds.Left()));
  if (descriptorSize < 1) return S_OK;
  BYTE objectType = 0;
  if (!esds.Byte(&objectType)) return S_OK;
  objectTypeIndication = objectType;
  if (descriptorSize < kDecoderConfigWithSpecificInfo) return S_OK;
  if (!esds.Skip(kDecoderConfigFixedBytes) || !esds.Skip(1) || !esds.DescriptorSize(&descriptorSize)) return S_OK;
  if (descriptorSize > static_cast<ULONGLONG>(esds.Left())) return S_OK;
  return codecConfig.Assign(esds.At(), static_cast<LONG>(descriptorSize));
}

HRESULT SampleEntry::OnWfex(const Box&, const BYTE* data, LONGLONG size) {
  return codecConfig.Assign(data, AsBufferLength(size));
}

HRESULT SampleEntry::OnDvc1(const Box&, const BYTE* data, LONGLONG size) {
  if (size < 1) return S_OK;
  if ((data[0] & 0xF0) != kVc1AdvancedProfileBits) {
    if (size <= kVc1SimpleHeaderOffset) return codecConfig.Assign(nullptr, 0);
    return codecConfig.Assign(data + kVc1SimpleHeaderOffset, AsBufferLength(size - kVc1SimpleHeaderOffset));
  }
  if (size <= kVc1AdvancedHeaderOffset) return codecConfig.Assign(nullptr, 0);
  const BYTE* header = data + kVc1AdvancedHeaderOffset;
  const LONG headerSize = AsBufferLength(size - kVc1AdvancedHeaderOffset);
  const bool startsWithSequenceHeader =
      headerSize >= static_cast<LONG>(sizeof kVc1SequenceStartCode) &&
      std::equal(std::begin(kVc1SequenceStartCode), std::end(kVc1SequenceStartCode), header);
  if (!startsWithSequenceHeader) return codecConfig.Assign(header, headerSize);
  // Decoders expect the advanced-profile header behind a one-byte marker.
  if (headerSize == INT32_MAX) return E_OUTOFMEMORY;
  codecConfig.Empty();
  RETURN_IF_FAILED(codecConfig.AppendByte(kVc1ConfigMarker));
  return codecConfig.Append(header, headerSize);
}

HRESULT SampleEntry::OnAvcC(const Box&, const BYTE* data, LONGLONG size) {
  return codecConfig.Assign(data, AsBufferLength(size));
}

HRESULT SampleEntry::OnHvcC(const Box&, const BYTE* data, LONGLONG size) {
  return codecConfig.Assign(data, AsBufferLength(size));
}

HRESULT SampleEntry::OnColr(const Box&, const BYTE* data, LONGLONG size) {
  if (size >= 4) {
    DMX_TRACE("\nSampleEntry: colr %s, %" PRId64 " bytes", FourCCText(LoadBigEndian32(data)).c_str(), size);
  }
  return S_OK;
}

HRESULT SampleEntry::OnPasp(const Box&, const BYTE*, LONGLONG) { return S_OK; }

SampleEntry* CreatePlainSampleEntry(DWORD, const Box& entryHeader, trakBox* track) {
  return new (std::nothrow) SampleEntry(entryHeader, track, kSampleEntryPlain);
}

DWORD SampleEntry::PcmFrameBytes() const {
  const DWORD format = Format();
  if (format != FourCC("twos") && format != FourCC("sowt") && format != FourCC("raw ")) return 0;
  return static_cast<DWORD>(PcmBitsPerSample() / 8) * PcmChannelCount();
}
