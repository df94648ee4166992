#include "platform/crc32.h"
#include "platform/sample_sink.h"
#include "test_filters.h"

#include <gtest/gtest.h>

namespace {

using namespace testfilters;

TEST(SampleSink, RefusesTypesOutsideItsAcceptedOne) {
  CSampleSink* raw = nullptr;
  ASSERT_EQ(CSampleSink::Create(&raw), S_OK);
  const auto sink = ComPtr<CSampleSink>::Attach(raw);
  CMediaType audio(&MEDIATYPE_Audio);
  sink->SetAcceptedType(&audio);
  CMediaType video = TypeOf(MEDIATYPE_Video, MEDIASUBTYPE_YUY2);
  EXPECT_EQ(sink->GetPin(0)->QueryAccept(&video), S_FALSE);
  CMediaType pcm = TypeOf(MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
  EXPECT_EQ(sink->GetPin(0)->QueryAccept(&pcm), S_OK);
  ComPtr<IAMFilterMiscFlags> flags;
  ASSERT_EQ(sink->QueryInterface(IID_IAMFilterMiscFlags, flags.PutVoid()), S_OK);
  EXPECT_EQ(flags->GetMiscFlags(), AM_FILTER_MISC_FLAGS_IS_RENDERER);
}

TEST(Crc32, MatchesTheZipChecksum) {
  const char* text = "123456789";
  EXPECT_EQ(Crc32(reinterpret_cast<const BYTE*>(text), 9), 0xCBF43926u);
  EXPECT_EQ(Crc32(nullptr, 0), 0u);
}

}  // namespace
