#include "platform/format_blocks.h"
#include "platform/media_guids.h"
#include "platform/media_type.h"
#include "platform/task_memory.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// An IUnknown that only counts its references.
class CountedUnknown final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  ULONG refs = 1;
};

CMediaType VideoType(BYTE fill, ULONG length) {
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&MEDIASUBTYPE_YUY2);
  mt.SetFormatType(&FORMAT_VideoInfo);
  BYTE* block = mt.AllocFormatBuffer(length);
  std::memset(block, fill, length);
  return mt;
}

TEST(MediaTypeOwnership, CopyDuplicatesTheFormatBlock) {
  CMediaType original = VideoType(0x11, sizeof(VIDEOINFOHEADER));
  CMediaType copy(original);
  ASSERT_NE(copy.Format(), original.Format());
  ASSERT_EQ(copy.FormatLength(), original.FormatLength());
  original.Format()[0] = 0x22;
  EXPECT_EQ(copy.Format()[0], 0x11);
  EXPECT_FALSE(copy == original);
}

TEST(MediaTypeOwnership, CopyAddsAndFreeReleasesTheUnknown) {
  CountedUnknown unknown;
  CMediaType mt;
  mt.pUnk = &unknown;
  unknown.AddRef();
  {
    CMediaType copy(mt);
    EXPECT_EQ(unknown.refs, 3u);
  }
  EXPECT_EQ(unknown.refs, 2u);
  FreeMediaType(mt);
  EXPECT_EQ(unknown.refs, 1u);
  EXPECT_EQ(mt.pUnk, nullptr);
}

TEST(MediaTypeOwnership, BlockPointerWithoutLengthIsNotShared) {
  AM_MEDIA_TYPE source{};
  source.pbFormat = reinterpret_cast<BYTE*>(&source);  // stray pointer, zero length
  AM_MEDIA_TYPE target{};
  ASSERT_EQ(CopyMediaType(&target, &source), S_OK);
  EXPECT_EQ(target.pbFormat, nullptr);
}

TEST(MediaTypeFields, EqualityIgnoresSampleSizeFlags) {
  CMediaType a = VideoType(1, 4);
  CMediaType b = VideoType(1, 4);
  b.SetSampleSize(0);
  b.SetTemporalCompression(TRUE);
  EXPECT_TRUE(a == b);
  b.SetSubtype(&MEDIASUBTYPE_UYVY);
  EXPECT_FALSE(a == b);
}

struct PartialCase {
  const char* name;
  GUID major;
  GUID sub;
  GUID format;
  BOOL matches;
};

TEST(MediaTypeMatching, PartialTypesMatchOnTheFieldsTheyGive) {
  const CMediaType full = VideoType(7, 4);
  const PartialCase cases[] = {
      {"everything open", GUID_NULL, GUID_NULL, GUID_NULL, TRUE},
      {"major only", MEDIATYPE_Video, GUID_NULL, GUID_NULL, TRUE},
      {"wrong major", MEDIATYPE_Audio, GUID_NULL, GUID_NULL, FALSE},
      {"major and subtype", MEDIATYPE_Video, MEDIASUBTYPE_YUY2, GUID_NULL, TRUE},
      {"wrong subtype", MEDIATYPE_Video, MEDIASUBTYPE_RGB24, GUID_NULL, FALSE},
      {"format without block", MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, FALSE},
  };
  for (const PartialCase& c : cases) {
    CMediaType partial;
    partial.majortype = c.major;
    partial.subtype = c.sub;
    partial.formattype = c.format;
    EXPECT_EQ(full.MatchesPartial(&partial), c.matches) << c.name;
  }
  CMediaType sameBlock = VideoType(7, 4);
  EXPECT_TRUE(full.MatchesPartial(&sameBlock));
  CMediaType otherBlock = VideoType(8, 4);
  EXPECT_FALSE(full.MatchesPartial(&otherBlock));
}

}  // namespace
