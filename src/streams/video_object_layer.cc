#include "streams/video_object_layer.h"

#include "streams/bit_reader.h"

namespace {

constexpr BYTE kFirstVolStartCode = 0x20;
constexpr BYTE kLastVolStartCode = 0x2F;
constexpr size_t kStartCodePrefixSize = 3;
constexpr size_t kMinBytesAfterStartCodePrefix = 5;

constexpr DWORD kAspectRatioExtended = 15;
constexpr int kVbvParameterBits = 79;
constexpr DWORD kShapeRectangular = 0;

// Pixel aspect ratios of the aspect_ratio_info codes 2 to 5; 1 is square
// and leaves the entry's ratio as it is.
struct PixelAspect {
  DWORD code;
  DWORD h;
  DWORD v;
};
constexpr PixelAspect kPixelAspects[] = {{2, 12, 11}, {3, 10, 11}, {4, 16, 11}, {5, 40, 33}};

// Bits needed for `value` (at least 1): the width of fixed_vop_time_increment.
int BitsToRepresent(DWORD value) {
  int bits = 1;
  while (bits < 32 && (value >> bits) != 0) ++bits;
  return bits;
}

}  // namespace

// Each read that runs out of bits ends the parse with the "incomplete" code.
#define READ_OR_INCOMPLETE(expr) \
  do {                           \
    if (!(expr)) return kVideoObjectLayerIncomplete; \
  } while (0)

HRESULT ParseVideoObjectLayerHeader(const BYTE* data, size_t size, VideoObjectLayerFields* fields) {
  CBitReader bits(data, size);
  DWORD value = 0;
  bool flag = false;

  // random_accessible_vol, video_object_type_indication
  READ_OR_INCOMPLETE(bits.Skip(1 + 8));
  READ_OR_INCOMPLETE(bits.ReadFlag(&flag));  // is_object_layer_identifier
  if (flag) READ_OR_INCOMPLETE(bits.Skip(4 + 3));

  READ_OR_INCOMPLETE(bits.Read(4, &value));  // aspect_ratio_info
  if (value == kAspectRatioExtended) {
    DWORD parWidth = 0;
    DWORD parHeight = 0;
    READ_OR_INCOMPLETE(bits.Read(8, &parWidth));
    fields->pixelAspectH = parWidth;
    READ_OR_INCOMPLETE(bits.Read(8, &parHeight));
    fields->pixelAspectV = parHeight;
    fields->hasPixelAspect = 1;
  } else {
    for (const PixelAspect& aspect : kPixelAspects) {
      if (aspect.code != value) continue;
      fields->pixelAspectH = aspect.h;
      fields->pixelAspectV = aspect.v;
      fields->hasPixelAspect = 1;
    }
  }

  READ_OR_INCOMPLETE(bits.ReadFlag(&flag));  // vol_control_parameters
  if (flag) {
    READ_OR_INCOMPLETE(bits.Skip(2 + 1));  // chroma_format, low_delay
    READ_OR_INCOMPLETE(bits.ReadFlag(&flag));  // vbv_parameters
    if (flag) READ_OR_INCOMPLETE(bits.Skip(kVbvParameterBits));
  }

  READ_OR_INCOMPLETE(bits.Read(2, &value));  // video_object_layer_shape
  if (value != kShapeRectangular) return E_FAIL;

  DWORD resolution = 0;
  READ_OR_INCOMPLETE(bits.Skip(1));
  READ_OR_INCOMPLETE(bits.Read(16, &resolution));  // vop_time_increment_resolution
  if (resolution == 0) return E_FAIL;
  READ_OR_INCOMPLETE(bits.Skip(1));
  READ_OR_INCOMPLETE(bits.ReadFlag(&flag));  // fixed_vop_rate
  if (flag) {
    READ_OR_INCOMPLETE(bits.Read(BitsToRepresent(resolution - 1), &value));
    if (value == 0) return E_FAIL;
  }

  READ_OR_INCOMPLETE(bits.Skip(1));
  READ_OR_INCOMPLETE(bits.Read(13, &value));
  fields->width = static_cast<WORD>(value);
  READ_OR_INCOMPLETE(bits.Skip(1));
  READ_OR_INCOMPLETE(bits.Read(13, &value));
  fields->height = static_cast<WORD>(value);
  return S_OK;
}

#undef READ_OR_INCOMPLETE

bool ParseFirstVideoObjectLayer(const BYTE* data, size_t size, VideoObjectLayerFields* fields, HRESULT* result) {
  if (data == nullptr) return false;
  for (size_t i = 0; i + kStartCodePrefixSize <= size; ++i) {
    if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
    const size_t afterPrefix = size - i - kStartCodePrefixSize;
    if (afterPrefix < kMinBytesAfterStartCodePrefix) return false;
    const BYTE startCodeValue = data[i + kStartCodePrefixSize];
    if (startCodeValue < kFirstVolStartCode || startCodeValue > kLastVolStartCode) continue;
    const size_t headerStart = i + kStartCodePrefixSize + 1;
    *result = ParseVideoObjectLayerHeader(data + headerStart, size - headerStart, fields);
    return true;
  }
  return false;
}
