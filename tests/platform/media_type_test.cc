#include "platform/media_guids.h"
#include "platform/media_type.h"
#include "platform/task_memory.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

CMediaType VideoType(BYTE fill, ULONG length) {
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&MEDIASUBTYPE_YUY2);
  mt.SetFormatType(&FORMAT_VideoInfo);
  BYTE* block = mt.AllocFormatBuffer(length);
  std::memset(block, fill, length);
  return mt;
}

// A format pointer without a length is a stray: copying it would share (and
// later free twice) memory the type does not own. Copies of real blocks are
// made by every connection the engine's tests run under the address sanitizer.
TEST(MediaTypeOwnership, CopyNeverTakesAStrayFormatPointer) {
  AM_MEDIA_TYPE source{};
  source.pbFormat = reinterpret_cast<BYTE*>(&source);
  AM_MEDIA_TYPE target{};
  ASSERT_EQ(CopyMediaType(&target, &source), S_OK);
  EXPECT_EQ(target.pbFormat, nullptr);
}

struct PartialCase {
  const char* name;
  GUID major;
  GUID sub;
  GUID format;
  BOOL matches;
};

TEST(MediaTypeMatching, PartialTypesMatchOnTheFieldsTheyGiveAndEqualityIgnoresSampleFlags) {
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
  CMediaType same = VideoType(7, 4);
  EXPECT_TRUE(full.MatchesPartial(&same));
  same.SetSampleSize(0);
  same.SetTemporalCompression(TRUE);
  EXPECT_TRUE(full == same);
  CMediaType otherBlock = VideoType(8, 4);
  EXPECT_FALSE(full.MatchesPartial(&otherBlock));
  EXPECT_FALSE(full == otherBlock);
}

}  // namespace
