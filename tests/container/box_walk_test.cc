// The box walk: dispatch through a table of member handlers, and the guards
// that keep a malformed size from looping, stepping back or dispatching on a
// header that was never read.
#include "support/box_builder.h"
#include "support/memory_source.h"

#include "container/box_walk.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A container that handles "leaf" (records its payload size), "fail"
// (E_FAIL), "stop" (S_FALSE) and "nest" (its own walk); the rest is skipped.
class RecordingContainer {
 public:
  explicit RecordingContainer(IAsyncReader* source) : source_(source) {}

  HRESULT Walk(LONGLONG* position, Box& container) {
    static constexpr ChildHandler<RecordingContainer> kChildren[] = {
        {FourCC("leaf"), &RecordingContainer::OnLeaf},
        {FourCC("fail"), &RecordingContainer::OnFail},
        {FourCC("stop"), &RecordingContainer::OnStop},
        {FourCC("nest"), &RecordingContainer::OnNest},
    };
    return WalkChildren(*this, kChildren, source_, position, container);
  }

  std::string visits;

 private:
  HRESULT OnLeaf(LONGLONG* position, LONGLONG* remaining, Box& child) {
    RETURN_IF_FAILED(ClaimChild(remaining, child));
    visits += "leaf" + std::to_string(child.size) + " ";
    child.Fields(source_, position).SkipRest();
    return S_OK;
  }
  HRESULT OnFail(LONGLONG*, LONGLONG*, Box&) { return E_FAIL; }
  HRESULT OnStop(LONGLONG*, LONGLONG*, Box&) { return S_FALSE; }
  HRESULT OnNest(LONGLONG* position, LONGLONG* remaining, Box& child) {
    RETURN_IF_FAILED(ClaimChild(remaining, child));
    visits += "( ";
    RETURN_IF_FAILED(Walk(position, child));
    visits += ") ";
    return S_OK;
  }

  IAsyncReader* source_;
};

struct WalkOutcome {
  HRESULT result;
  LONGLONG position;
  std::string visits;
};

// Reads the top box of `bytes` as the container and walks it.
WalkOutcome WalkTopBox(ComPtr<IAsyncReader> reader) {
  Box container;
  LONGLONG position = 0;
  LONGLONG remaining = INT64_MAX;
  WalkOutcome outcome{container.ReadHeader(reader.Get(), &position, &remaining), 0, ""};
  RecordingContainer owner(reader.Get());
  if (outcome.result == S_OK) outcome.result = owner.Walk(&position, container);
  outcome.position = position;
  outcome.visits = owner.visits;
  return outcome;
}

WalkOutcome WalkTopBox(const BoxBuilder& b) { return WalkTopBox(b.Reader()); }

TEST(BoxWalkTest, KnownChildrenAreDispatchedAndOthersSkipped) {
  BoxBuilder b;
  b.Box("moov", [&] {
    b.Box("leaf", [&] { b.Zeros(3); });
    b.Box("udta", [&] { b.Zeros(10); });
    b.Box("nest", [&] { b.Box("leaf"); b.Box("free", [&] { b.Zeros(2); }); });
    b.Box("leaf", [&] { b.Zeros(1); });
  });
  b.Box("leaf");
  const WalkOutcome outcome = WalkTopBox(b);
  EXPECT_EQ(outcome.result, S_OK);
  EXPECT_EQ(outcome.visits, "leaf3 ( leaf0 ) leaf1 ");
  EXPECT_EQ(outcome.position, static_cast<LONGLONG>(b.Size()) - 8);
}

TEST(BoxWalkTest, FirstHandlerResultOtherThanOkEndsTheWalk) {
  for (const char* ender : {"fail", "stop"}) {
    BoxBuilder b;
    b.Box("moov", [&] {
      b.Box("leaf");
      b.Box("fail");
      b.Box("leaf");
    });
    std::vector<uint8_t> bytes = b.Data();
    std::copy(ender, ender + 4, bytes.begin() + 8 + 8 + 4);
    const WalkOutcome outcome = WalkTopBox(MakeMemoryReader(bytes));
    EXPECT_EQ(outcome.result, std::string(ender) == "fail" ? E_FAIL : S_FALSE);
    EXPECT_EQ(outcome.visits, "leaf0 ");
  }
}

TEST(BoxWalkTest, ChildLargerThanParentFailsTheWalk) {
  BoxBuilder b;
  b.Box("moov", [&] { b.Box(BoxSize::Forced(40), "leaf", [&] { b.Zeros(8); }); });
  b.Zeros(64);
  EXPECT_EQ(WalkTopBox(b).result, VFW_E_INVALID_FILE_FORMAT);
}

TEST(BoxWalkTest, UnknownChildOverrunningItsContainerEndsAtTheContainersEnd) {
  BoxBuilder b;
  b.Box("moov", [&] {
    b.Box("nest", [&] { b.Box(BoxSize::Forced(4000), "udta", [&] { b.Zeros(8); }); });
    b.Box("leaf");
  });
  b.Zeros(64);
  const WalkOutcome outcome = WalkTopBox(b);
  EXPECT_EQ(outcome.result, S_OK);
  EXPECT_EQ(outcome.visits, "( ) leaf0 ");
}

TEST(BoxWalkTest, ChildSmallerThanItsHeaderFailsInsteadOfLooping) {
  for (const BoxSize size : {BoxSize::Forced(4), BoxSize::Forced(1 + 0), BoxSize::ForcedLarge(8)}) {
    BoxBuilder b;
    b.Box("moov", [&] {
      b.Box("leaf");
      b.Box(size, "free");
      b.Zeros(16);
    });
    const WalkOutcome outcome = WalkTopBox(b);
    EXPECT_EQ(outcome.result, STG_E_INVALIDHEADER);
    EXPECT_EQ(outcome.visits, "leaf0 ");
  }
}

TEST(BoxWalkTest, StrayTrailingBytesCountAsParsedAndAreSteppedOver) {
  BoxBuilder b;
  b.Box("moov", [&] {
    b.Box("nest", [&] { b.Box("leaf").Zeros(4); });
    b.Box("leaf", [&] { b.Zeros(2); });
  });
  const WalkOutcome outcome = WalkTopBox(b);
  EXPECT_EQ(outcome.result, S_OK);
  EXPECT_EQ(outcome.visits, "( leaf0 ) leaf2 ");
}

TEST(BoxWalkTest, ChildOfSizeZeroRunsToTheEndOfItsContainerOnly) {
  BoxBuilder b;
  b.Box("moov", [&] {
    b.Box("nest", [&] {
      b.Box("leaf");
      b.Box(BoxSize::ToEnd(), "leaf", [&] { b.Zeros(5); });
    });
    b.Box("leaf", [&] { b.Zeros(1); });
  });
  EXPECT_EQ(WalkTopBox(b).visits, "( leaf0 leaf5 ) leaf1 ");
}

TEST(BoxWalkTest, ContainerOfSizeZeroIsWalkedToTheEndOfTheSource) {
  BoxBuilder b;
  b.Box(BoxSize::ToEnd(), "moov", [&] {
    b.Box("leaf", [&] { b.Zeros(2); });
    b.Box("leaf");
  });
  WalkOutcome outcome = WalkTopBox(b);
  EXPECT_EQ(outcome.result, S_OK);
  EXPECT_EQ(outcome.visits, "leaf2 leaf0 ");

  // Without a length the walk goes on until a header read comes back short.
  ComPtr<MemorySource> source = MemorySource::Create(b.Data());
  source->FailLength(E_NOTIMPL);
  outcome = WalkTopBox(ComPtr<IAsyncReader>(source.Get()));
  EXPECT_EQ(outcome.result, S_FALSE);
  EXPECT_EQ(outcome.visits, "leaf2 leaf0 ");
}

TEST(BoxWalkTest, ChildHeaderThatCannotBeReadEndsTheWalkWithItsResult) {
  BoxBuilder b;
  b.Box("moov", [&] {
    b.Box("leaf");
    b.Box("leaf");
  });
  ComPtr<MemorySource> source = MemorySource::Create(b.Data());
  source->FailReadsFrom(18, STG_E_READFAULT);
  const WalkOutcome outcome = WalkTopBox(ComPtr<IAsyncReader>(source.Get()));
  EXPECT_EQ(outcome.result, STG_E_READFAULT);
  EXPECT_EQ(outcome.visits, "leaf0 ");

  // Large size without its 8 bytes in the container.
  BoxBuilder cut;
  cut.Box("moov", [&] { cut.Box(BoxSize::Forced(1), "leaf").Zeros(4); });
  EXPECT_EQ(WalkTopBox(cut).result, STG_E_INVALIDHEADER);
}

}  // namespace
