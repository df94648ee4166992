#include "container/trak_box.h"
#include "dmx_test_filters.h"
#include "platform/fourcc.h"
#include "platform/mem_allocator.h"
#include "streams/media_subtypes.h"
#include "streams/sample_entry_factory.h"
#include "support/movie_builder.h"
#include "test_neighbours.h"

#include <gtest/gtest.h>

namespace {

using namespace dmxtest;

// A Motion JPEG track of three samples, parsed with the streams layer's
// sample entries so that it offers real media types.
ParsedMovie JpegMovie() {
  BoxBuilder b;
  b.Box("mdat", [&] { b.Zeros(30); });
  TrackSpec track;
  track.format = "jpeg";
  BoxBuilder entry;
  entry.Zeros(16).U16(320).U16(240).U32(0x00480000).U32(0x00480000).U32(0).U16(1).Zeros(32).U16(24).U16(0xFFFF);
  track.entryBody = entry.Data();
  track.stts = {{3, 20}};
  track.stsc = {{1, 3, 1}};
  track.sizes = {10, 10, 10};
  track.chunkOffsets = {8};
  WriteMovie(b, {track});
  return ParseMovie(b, 0, CreateSampleEntry);
}

class DmxOutputPinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dmx_ = Make<TestDmx>(1);
    ASSERT_EQ(dmx_->AddOutputPin(FALSE), S_OK);
    pin_ = dmx_->GetOutputPin(0);
    movie_ = JpegMovie();
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

TEST_F(DmxOutputPinTest, UnconnectedPinDoesNothingButDeliverStillTakesTheSample) {
  EXPECT_EQ(pin_->Active(), S_OK);
  EXPECT_EQ(pin_->DeliverNewSegment(0, MAX_TIME, 1.0), S_OK);
  EXPECT_EQ(pin_->DeliverBeginFlush(), S_OK);
  EXPECT_EQ(pin_->DeliverEndOfStream(), S_OK);
  EXPECT_EQ(pin_->Inactive(), S_OK);
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(CreateMemoryAllocator(allocator.Put()), S_OK);
  ALLOCATOR_PROPERTIES props{1, 64, 1, 0}, actual{};
  ASSERT_EQ(allocator->SetProperties(&props, &actual), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  IMediaSample* sample = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(pin_->Deliver(sample), S_OK);
  // The only buffer is free again.
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);

  // Connected to a stopped filter: the refusal comes back, the sample still goes.
  pin_->SetTrack(&movie_.Track(0));
  ASSERT_EQ(ConnectTo(GUID_NULL, nullptr), S_OK);
  EXPECT_EQ(pin_->Deliver(sample), VFW_E_WRONG_STATE);
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
  sample->Release();
  EXPECT_EQ(pin_->Deliver(nullptr), E_POINTER);
  allocator->Decommit();
}

TEST_F(DmxOutputPinTest, MediaTypesComeFromTheBoundTrackAndOnlyTheFirstTwoAreAccepted) {
  CMediaType mt;
  EXPECT_EQ(pin_->GetMediaType(0, &mt), E_UNEXPECTED);
  const CMediaType first = TrackType(0);
  // Without a track nothing matches.
  EXPECT_EQ(pin_->CheckMediaType(&first), S_FALSE);
  pin_->SetTrack(&movie_.Track(0));
  ASSERT_EQ(pin_->GetMediaType(0, &mt), S_OK);
  EXPECT_TRUE(mt == first);
  EXPECT_EQ(pin_->GetMediaType(-1, &mt), E_INVALIDARG);
  EXPECT_EQ(pin_->CheckMediaType(&first), S_OK);
  const CMediaType second = TrackType(1);
  EXPECT_EQ(pin_->CheckMediaType(&second), S_OK);
  CMediaType other = second;
  other.SetSubtype(&MEDIASUBTYPE_YUY2);
  EXPECT_EQ(pin_->CheckMediaType(&other), S_FALSE);
  // Negotiation without a proposed type ends on the track's first type.
  ASSERT_EQ(ConnectTo(GUID_NULL, nullptr), S_OK);
  CMediaType connected;
  ASSERT_EQ(pin_->ConnectionMediaType(&connected), S_OK);
  EXPECT_TRUE(connected == first);
}

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

TEST_F(DmxOutputPinTest, QueueExistsFromPreparationToInactiveWhenBuffersAllowIt) {
  pin_->SetTrack(&movie_.Track(0));
  ASSERT_EQ(ConnectTo(GUID_NULL, nullptr), S_OK);
  pin_->SetBufferCount(3);
  EXPECT_EQ(pin_->Prepare(), S_OK);
  EXPECT_TRUE(pin_->HasOutputQueue());
  EXPECT_EQ(pin_->DeliverNewSegment(0, MAX_TIME, 1.0), S_OK);
  EXPECT_EQ(pin_->DeliverEndOfStream(), S_OK);
  EXPECT_EQ(pin_->Inactive(), S_OK);
  EXPECT_FALSE(pin_->HasOutputQueue());
}

}  // namespace
