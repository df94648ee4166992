#include "delivery_fixture.h"
#include "platform/fourcc.h"
#include "streams/media_subtypes.h"
#include "test_neighbours.h"

#include <gtest/gtest.h>

namespace {

using namespace dmxtest;

class DmxOutputPinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dmx_ = Make<TestDmx>(1);
    ASSERT_EQ(dmx_->AddOutputPin(FALSE), S_OK);
    pin_ = dmx_->GetOutputPin(0);
    movie_ = ParseMovie(MemorySource::Create(BuildMovieFile({VideoStream("jpeg", 3, 20, 10)})).Get(), 0, CreateSampleEntry);
    ASSERT_EQ(movie_.result, S_OK);
  }
  void TearDown() override {
    if (sink_) {
      sink_->GetPin(0)->Disconnect();
      pin_->Disconnect();
    }
    pin_->SetTrack(nullptr);
  }
  // The bound track's media type at `position`.
  CMediaType TrackType(int position) {
    CMediaType mt;
    EXPECT_EQ(movie_.Track(0).GetTrackMediaType(position, &mt), S_OK);
    return mt;
  }
  HRESULT ConnectTo(REFCLSID sinkClass, const CMediaType* mt) {
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
  EXPECT_EQ(pin_->GetRotation(nullptr), E_POINTER);
  trakBox& track = movie_.Track(0);
  pin_->SetTrack(&track);
  const DWORD one = 0x00010000, minusOne = 0xFFFF0000;
  struct {
    DWORD a, b, c, d;
    LONG degrees;
  } const cases[] = {
      {one, 0, 0, one, 0},
      {0, one, minusOne, 0, 90},
      {0, minusOne, one, 0, 270},
      {minusOne, 0, 0, minusOne, 180},
      {one, one, 0, one, 0},
  };
  ComPtr<IVTVideoRotation> rotation;
  ASSERT_EQ(pin_->QueryInterface(IID_IVTVideoRotation, rotation.PutVoid()), S_OK);
  for (const auto& c : cases) {
    track.matrix[0] = c.a;
    track.matrix[1] = c.b;
    track.matrix[3] = c.c;
    track.matrix[4] = c.d;
    EXPECT_EQ(rotation->GetRotation(&degrees), S_OK);
    EXPECT_EQ(degrees, c.degrees) << c.b << " " << c.d;
  }
}

TEST_F(DmxOutputPinTest, PrivateSubtypeIsRefusedOnlyByTheAviMultiplexer) {
  pin_->SetTrack(&movie_.Track(0));
  const CMediaType privateType = TrackType(0);
  const CMediaType fourCCType = TrackType(1);
  ASSERT_TRUE(IsPrivateSubtype(privateType.subtype));
  EXPECT_EQ(ConnectTo(CLSID_AviDest, &privateType), VFW_E_INVALID_MEDIA_TYPE);
  EXPECT_FALSE(pin_->IsConnected());
  EXPECT_FALSE(sink_->GetPin(0)->IsConnected());
  EXPECT_EQ(ConnectTo(CLSID_AviDest, &fourCCType), S_OK);
  sink_->GetPin(0)->Disconnect();
  pin_->Disconnect();
  EXPECT_EQ(ConnectTo(GUID_NULL, &privateType), S_OK);
  sink_->GetPin(0)->Disconnect();
  pin_->Disconnect();
  // Left to choose, the multiplexer ends on the public type.
  ASSERT_EQ(ConnectTo(CLSID_AviDest, nullptr), S_OK);
  CMediaType connected;
  ASSERT_EQ(pin_->ConnectionMediaType(&connected), S_OK);
  EXPECT_TRUE(connected == fourCCType);
}

}  // namespace
