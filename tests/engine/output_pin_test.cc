// The output pin next to a downstream filter of a chosen class: rotation
// from the track matrix, the AVI multiplexer's refusal of the private
// subtype, and the "yuv2" chroma conversion, staged only for the video
// renderers.
#include "delivery_fixture.h"

#include "platform/base_input_pin.h"
#include "platform/fourcc.h"
#include "streams/media_subtypes.h"
#include "streams/sample_converter.h"

#include <gtest/gtest.h>

namespace {

using namespace dmxtest;

// A renderer-less downstream filter of class `clsid` whose input takes any type.
class AnyTypeSinkFilter : public CBaseFilter {
 public:
  explicit AnyTypeSinkFilter(REFCLSID clsid) : CBaseFilter("AnyTypeSink", nullptr, &lock_, clsid), pin_(this, &lock_) {}
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

 private:
  class InputPin : public CBaseInputPin {
   public:
    InputPin(CBaseFilter* filter, CCritSec* lock) : CBaseInputPin("AnyTypeSink pin", filter, lock, &result_, L"In") {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }

   private:
    HRESULT result_ = S_OK;
  };

  CCritSec lock_;
  InputPin pin_;
};

// One pin, bound to track 0 ("jpeg") or track 1 ("yuv2") of a small movie.
class DmxOutputPinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dmx_ = Make<TestDmx>(1);
    ASSERT_EQ(dmx_->AddOutputPin(FALSE), S_OK);
    pin_ = dmx_->GetOutputPin(0);
    const std::vector<uint8_t> file = BuildMovieFile({VideoStream("jpeg", 3, 20, 10), VideoStream("yuv2", 2)});
    movie_ = ParseMovie(MemorySource::Create(file).Get(), 0, CreateSampleEntry);
    ASSERT_EQ(movie_.result, S_OK);
  }
  void TearDown() override {
    Disconnect();
    pin_->SetTrack(nullptr);
  }
  void Disconnect() {
    if (!sink_) return;
    sink_->GetPin(0)->Disconnect();
    pin_->Disconnect();
  }
  HRESULT ConnectTo(REFCLSID sinkClass, const CMediaType* mt) {
    Disconnect();
    sink_ = Make<AnyTypeSinkFilter>(sinkClass);
    return pin_->Connect(sink_->GetPin(0), mt);
  }

  ParsedMovie movie_;
  ComPtr<TestDmx> dmx_;
  CBaseDmxOutputPin* pin_ = nullptr;
  ComPtr<AnyTypeSinkFilter> sink_;
};

TEST_F(DmxOutputPinTest, RotationFollowsTheTrackMatrix) {
  LONG degrees = -1;
  EXPECT_EQ(pin_->GetRotation(&degrees), E_NOTIMPL);
  trakBox& track = movie_.Track(0);
  pin_->SetTrack(&track);
  ComPtr<IVTVideoRotation> rotation;
  ASSERT_EQ(pin_->QueryInterface(IID_IVTVideoRotation, rotation.PutVoid()), S_OK);
  EXPECT_EQ(rotation->GetRotation(nullptr), E_POINTER);
  // Matrix a, b, c, d in 16.16; the last is no rotation of a quarter turn.
  const DWORD one = 0x00010000, minusOne = 0xFFFF0000;
  const std::tuple<DWORD, DWORD, DWORD, DWORD, LONG> cases[] = {
      {one, 0, 0, one, 0},       {0, one, minusOne, 0, 90}, {0, minusOne, one, 0, 270},
      {minusOne, 0, 0, minusOne, 180}, {one, one, 0, one, 0},
  };
  for (const auto& [a, b, c, d, expected] : cases) {
    std::tie(track.matrix[0], track.matrix[1], track.matrix[3], track.matrix[4]) = std::tie(a, b, c, d);
    EXPECT_EQ(rotation->GetRotation(&degrees), S_OK);
    EXPECT_EQ(degrees, expected) << b << " " << d;
  }
}

TEST_F(DmxOutputPinTest, PrivateSubtypeIsRefusedOnlyByTheAviMultiplexer) {
  pin_->SetTrack(&movie_.Track(0));
  CMediaType privateType, fourCCType, connected;
  ASSERT_EQ(movie_.Track(0).GetTrackMediaType(0, &privateType), S_OK);
  ASSERT_EQ(movie_.Track(0).GetTrackMediaType(1, &fourCCType), S_OK);
  ASSERT_TRUE(IsPrivateSubtype(privateType.subtype));
  EXPECT_EQ(ConnectTo(CLSID_AviDest, &privateType), VFW_E_INVALID_MEDIA_TYPE);
  EXPECT_FALSE(pin_->IsConnected());
  EXPECT_FALSE(sink_->GetPin(0)->IsConnected());
  EXPECT_EQ(ConnectTo(CLSID_AviDest, &fourCCType), S_OK);
  EXPECT_EQ(ConnectTo(GUID_NULL, &privateType), S_OK);
  // Left to choose, the multiplexer ends on the public type.
  ASSERT_EQ(ConnectTo(CLSID_AviDest, nullptr), S_OK);
  ASSERT_EQ(pin_->ConnectionMediaType(&connected), S_OK);
  EXPECT_TRUE(connected == fourCCType);
}

// Both modes subtract the chroma bias from every U and V byte; a remainder
// after the last 4-byte group is left as read, and the staged mode only
// writes the groups (a renderer's buffer may hold anything before).
TEST_F(DmxOutputPinTest, Yuv2IsConvertedStagedExactlyForTheVideoRenderers) {
  const std::pair<std::vector<uint8_t>, std::vector<uint8_t>> conversions[] = {
      {{0x00, 0x00, 0x10, 0xF0}, {0x00, 0x80, 0x10, 0x70}},
      {{0x01, 0x7F, 0x02, 0x80, 0x03, 0xFF, 0x04, 0x01}, {0x01, 0xFF, 0x02, 0x00, 0x03, 0x7F, 0x04, 0x81}},
      {{0x10, 0x20, 0x30, 0x40, 0x50, 0x60}, {0x10, 0xA0, 0x30, 0xC0, 0x50, 0x60}},
  };
  const std::pair<CLSID, bool> sinks[] = {
      {{0x70E102B0, 0x5556, 0x11CE, {0x97, 0xC0, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}}, true},
      {{0xFA10746C, 0x9B63, 0x4B6C, {0xBC, 0x49, 0xFC, 0x30, 0x0E, 0xA5, 0xF2, 0x56}}, true},
      {GUID_NULL, false},
      {CLSID_AviDest, false},
  };
  pin_->SetTrack(&movie_.Track(1));
  for (const auto& [sinkClass, staged] : sinks) {
    SCOPED_TRACE(GuidToString(sinkClass));
    ASSERT_EQ(ConnectTo(sinkClass, nullptr), S_OK);
    ASSERT_EQ(pin_->Prepare(), S_OK);
    auto* converter = dynamic_cast<CYUY2SampleConverter*>(pin_->Converter());
    ASSERT_NE(converter, nullptr);
    EXPECT_EQ(converter->IsStaged(), staged);
    for (const auto& [stored, delivered] : conversions) {
      ComPtr<MemorySource> source = MemorySource::Create(stored);
      std::vector<uint8_t> destination(stored.size(), 0xEE), expected = delivered;
      if (staged) std::fill(expected.begin() + stored.size() / 4 * 4, expected.end(), 0xEE);
      ASSERT_EQ(converter->Convert(source.Get(), 0, destination.data(), LONG(stored.size())), S_OK);
      EXPECT_EQ(destination, expected);
      // A short read converts what it has; a failed one is returned.
      destination.resize(stored.size() + 4);
      EXPECT_EQ(converter->Convert(source.Get(), 0, destination.data(), LONG(destination.size())), S_OK);
      source->FailReadsFrom(0, E_FAIL);
      EXPECT_EQ(converter->Convert(source.Get(), 0, destination.data(), LONG(stored.size())), E_FAIL);
    }
  }
}

}  // namespace
