// Box::ReadBody: known payloads, payloads that run to the end of the source,
// and the chunked read of a source without a usable length.
#include "support/box_builder.h"
#include "support/memory_source.h"

#include "container/box.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

std::vector<uint8_t> Counting(size_t count) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  return bytes;
}

// A size-0 "mdat" followed by `payload`.
std::vector<uint8_t> OpenEndedBox(const std::vector<uint8_t>& payload) {
  BoxBuilder b;
  b.Box(BoxSize::ToEnd(), "mdat", [&] { b.Bytes(payload); });
  return b.Data();
}

struct BodyRead {
  HRESULT result;
  LONGLONG position;
  LONGLONG remaining;
};

BodyRead ReadHeaderAndBody(Box& box, IAsyncReader* source, LONGLONG remaining = INT64_MAX) {
  BodyRead read{S_OK, 0, remaining};
  read.result = box.ReadHeader(source, &read.position, &read.remaining);
  if (read.result == S_OK) read.result = box.ReadBody(source, &read.position, &read.remaining);
  return read;
}

TEST(BoxBodyTest, KnownPayloadIsReadAndPositionAdvances) {
  const std::vector<uint8_t> payload = Counting(40);
  BoxBuilder b;
  b.Box("free", [&] { b.Bytes(payload); }).Box("skip");
  ComPtr<IAsyncReader> reader = b.Reader();
  Box box;
  const BodyRead read = ReadHeaderAndBody(box, reader.Get(), 100);
  ASSERT_EQ(read.result, S_OK);
  EXPECT_EQ(std::vector<uint8_t>(box.data, box.data + box.dataSize), payload);
  EXPECT_EQ(read.position, 48);
  EXPECT_EQ(read.remaining, 52);
}

TEST(BoxBodyTest, PayloadLargerThanTheParentsRemainingIsRefused) {
  BoxBuilder b;
  b.Box("free", [&] { b.Zeros(40); });
  ComPtr<IAsyncReader> reader = b.Reader();
  Box box;
  EXPECT_EQ(ReadHeaderAndBody(box, reader.Get(), 47).result, VFW_E_INVALID_FILE_FORMAT);
}

// A hostile size must not decide an allocation: the source is too short.
TEST(BoxBodyTest, PayloadPastTheEndOfTheSourceIsRefusedBeforeAllocating) {
  BoxBuilder b;
  b.Box(BoxSize::Forced(0x7FFFFFF0), "mdat", [&] { b.Zeros(16); });
  ComPtr<IAsyncReader> reader = b.Reader();
  Box box;
  EXPECT_EQ(ReadHeaderAndBody(box, reader.Get()).result, S_FALSE);
  EXPECT_EQ(box.data, nullptr);
}

TEST(BoxBodyTest, PayloadBeyondSigned32BitsIsRefusedWhenTheLengthIsUnknown) {
  BoxBuilder b;
  b.Box(BoxSize::ForcedLarge((1ull << 31) + 16), "mdat", [&] { b.Zeros(16); });
  ComPtr<MemorySource> source = MemorySource::Create(b.Data());
  source->FailLength(E_FAIL);
  Box box;
  EXPECT_EQ(ReadHeaderAndBody(box, source.Get()).result, E_OUTOFMEMORY);
  EXPECT_EQ(source->ReadCount(), 3u) << "only the header was read";
}

TEST(BoxBodyTest, FailedReadLeavesPositionAtThePayload) {
  BoxBuilder b;
  b.Box("free", [&] { b.Zeros(40); });
  ComPtr<MemorySource> source = MemorySource::Create(b.Data());
  source->FailReadsFrom(20, STG_E_READFAULT);
  Box box;
  const BodyRead read = ReadHeaderAndBody(box, source.Get());
  EXPECT_EQ(read.result, STG_E_READFAULT);
  EXPECT_EQ(box.lastResult, STG_E_READFAULT);
  EXPECT_EQ(read.position, 8);
}

TEST(BoxBodyTest, SizeZeroBoxReadsUpToTheSourcesLength) {
  const std::vector<uint8_t> payload = Counting(300);
  ComPtr<MemorySource> source = MemorySource::Create(OpenEndedBox(payload));
  Box box;
  const BodyRead read = ReadHeaderAndBody(box, source.Get());
  ASSERT_EQ(read.result, S_OK);
  EXPECT_EQ(std::vector<uint8_t>(box.data, box.data + box.dataSize), payload);
  EXPECT_EQ(read.position, 308);
  EXPECT_EQ(read.remaining, 0);
  EXPECT_EQ(source->ReadCount(), 3u);
}

// Sizes around the 2048-byte chunk and the 16384-byte growth step.
TEST(BoxBodyTest, ChunkedReadWithoutLengthGetsExactlyTheBytesThatExist) {
  for (const HRESULT endOfData : {S_FALSE, HRESULT_HANDLE_EOF}) {
    for (const size_t count : {0u, 1u, 1023u, 2047u, 2048u, 2049u, 16384u, 16385u, 40000u}) {
      const std::vector<uint8_t> payload = Counting(count);
      ComPtr<MemorySource> source = MemorySource::Create(OpenEndedBox(payload));
      source->FailLength(E_NOTIMPL);
      source->SetShortReadResult(endOfData);
      Box box;
      const BodyRead read = ReadHeaderAndBody(box, source.Get());
      ASSERT_EQ(read.result, S_OK) << count;
      ASSERT_EQ(box.dataSize, static_cast<LONGLONG>(count));
      EXPECT_EQ(std::vector<uint8_t>(box.data, box.data + box.dataSize), payload) << count;
      EXPECT_EQ(read.position, static_cast<LONGLONG>(8 + count));
      // Full chunks, then at most one halving step per bit of the chunk size.
      EXPECT_LE(source->ReadCount(), 2 + count / 2048 + 2 * 12) << count;
    }
  }
}

TEST(BoxBodyTest, ChunkedReadReturnsARealFailureOfTheSource) {
  ComPtr<MemorySource> source = MemorySource::Create(OpenEndedBox(Counting(5000)));
  source->FailLength(E_NOTIMPL);
  source->FailReadsFrom(3000, STG_E_READFAULT);
  Box box;
  const BodyRead read = ReadHeaderAndBody(box, source.Get());
  EXPECT_EQ(read.result, STG_E_READFAULT);
  EXPECT_EQ(read.position, 8);
  EXPECT_EQ(box.dataSize, 2048) << "the chunk that came before the failure";
}

TEST(BoxBodyTest, EmptyPayloadReadsNothing) {
  BoxBuilder b;
  b.Box("free").Box("skip", [&] { b.Zeros(4); });
  ComPtr<MemorySource> source = MemorySource::Create(b.Data());
  Box box;
  const BodyRead read = ReadHeaderAndBody(box, source.Get());
  ASSERT_EQ(read.result, S_OK);
  EXPECT_EQ(box.dataSize, 0);
  EXPECT_EQ(read.position, 8);
}

}  // namespace
