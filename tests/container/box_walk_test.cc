// The box walk: dispatch through a table of member handlers, the guards that
// keep a malformed size from looping, stepping back or dispatching on a
// header that was never read; and the depth limit of the box tree that reads
// with the same walk. (The tree of real files is in the cut-file pass and
// the boxes command's tests.)
#include "support/box_builder.h"
#include "support/memory_source.h"

#include "container/box_tree.h"
#include "container/box_walk.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>

namespace {

// Handles "leaf" (records its payload size), "fail" (E_FAIL), "stop"
// (S_FALSE) and "nest" (its own walk); the rest is skipped.
struct RecordingContainer {
  HRESULT Walk(LONGLONG* position, Box& container) {
    static constexpr ChildHandler<RecordingContainer> kChildren[] = {
        {FourCC("leaf"), &RecordingContainer::OnLeaf}, {FourCC("nest"), &RecordingContainer::OnNest},
        {FourCC("fail"), &RecordingContainer::OnEnd},  {FourCC("stop"), &RecordingContainer::OnEnd}};
    return WalkChildren(*this, kChildren, source, position, container);
  }
  HRESULT OnLeaf(LONGLONG* position, LONGLONG* remaining, Box& child) {
    RETURN_IF_FAILED(ClaimChild(remaining, child));
    visits += "leaf" + std::to_string(child.size) + " ";
    child.Fields(source, position).SkipRest();
    return S_OK;
  }
  HRESULT OnEnd(LONGLONG*, LONGLONG*, Box& child) { return child.type == FourCC("fail") ? E_FAIL : S_FALSE; }
  HRESULT OnNest(LONGLONG* position, LONGLONG* remaining, Box& child) {
    RETURN_IF_FAILED(ClaimChild(remaining, child));
    visits += "( ";
    RETURN_IF_FAILED(Walk(position, child));
    visits += ") ";
    return S_OK;
  }

  IAsyncReader* source;
  std::string visits = {};
};

// Reads the top box of `source` as the container and walks it: the result,
// the visits and where the walk left position.
std::tuple<HRESULT, std::string, LONGLONG> WalkTopBox(IAsyncReader* source) {
  Box container;
  LONGLONG position = 0, remaining = INT64_MAX;
  EXPECT_EQ(container.ReadHeader(source, &position, &remaining), S_OK);
  RecordingContainer owner{source};
  const HRESULT hr = owner.Walk(&position, container);
  return {hr, owner.visits, position};
}

TEST(BoxWalkTest, ChildrenAreDispatchedAndMalformedSizesEndTheWalk) {
  const struct {
    const char* name;
    std::function<void(BoxBuilder&)> write;
    HRESULT result;
    const char* visits;
    LONGLONG failReadsFrom = 0;
  } cases[] = {
      {"known children dispatched, others skipped",
       [](BoxBuilder& b) {
         b.Box("leaf", [&] { b.Zeros(3); }).Box("udta", [&] { b.Zeros(10); });
         b.Box("nest", [&] { b.Box("leaf").Box("free", [&] { b.Zeros(2); }); }).Box("leaf", [&] { b.Zeros(1); });
       },
       S_OK, "leaf3 ( leaf0 ) leaf1 "},
      {"handler failure", [](BoxBuilder& b) { b.Box("leaf").Box("fail").Box("leaf"); }, E_FAIL, "leaf0 "},
      {"handler S_FALSE", [](BoxBuilder& b) { b.Box("leaf").Box("stop").Box("leaf"); }, S_FALSE, "leaf0 "},
      {"child larger than its parent", [](BoxBuilder& b) { b.Box(BoxSize::Forced(40), "leaf", [&] { b.Zeros(8); }); },
       VFW_E_INVALID_FILE_FORMAT, ""},
      {"unknown child overrunning its container ends there",
       [](BoxBuilder& b) {
         b.Box("nest", [&] { b.Box(BoxSize::Forced(4000), "udta", [&] { b.Zeros(8); }); }).Box("leaf");
       },
       S_OK, "( ) leaf0 "},
      {"child smaller than its header", [](BoxBuilder& b) { b.Box("leaf").Box(BoxSize::Forced(4), "free").Zeros(16); },
       STG_E_INVALIDHEADER, "leaf0 "},
      {"stray trailing bytes are stepped over",
       [](BoxBuilder& b) { b.Box("nest", [&] { b.Box("leaf").Zeros(4); }).Box("leaf", [&] { b.Zeros(2); }); }, S_OK,
       "( leaf0 ) leaf2 "},
      {"size-0 child runs to the end of its container only",
       [](BoxBuilder& b) {
         b.Box("nest", [&] { b.Box("leaf").Box(BoxSize::ToEnd(), "leaf", [&] { b.Zeros(5); }); }).Box("leaf");
       },
       S_OK, "( leaf0 leaf5 ) leaf0 "},
      {"unreadable child header", [](BoxBuilder& b) { b.Box("leaf").Box("leaf"); }, STG_E_READFAULT, "leaf0 ", 18},
  };
  for (const auto& c : cases) {
    BoxBuilder b;
    b.Box("moov", [&] { c.write(b); }).Zeros(64);
    ComPtr<MemorySource> source = MemorySource::Create(b.Data());
    if (c.failReadsFrom != 0) source->FailReadsFrom(c.failReadsFrom, STG_E_READFAULT);
    const auto [result, visits, position] = WalkTopBox(source.Get());
    EXPECT_EQ(std::make_tuple(result, visits), std::make_tuple(c.result, std::string(c.visits))) << c.name;
    EXPECT_TRUE(FAILED(result) || result == S_FALSE || position == LONGLONG(b.Size() - 64)) << c.name;
  }
}

// Without a length the walk goes on until a header read comes back short.
TEST(BoxWalkTest, ContainerOfSizeZeroIsWalkedToTheEndOfTheSource) {
  BoxBuilder b;
  b.Box(BoxSize::ToEnd(), "moov", [&] { b.Box("leaf", [&] { b.Zeros(2); }).Box("leaf"); });
  for (const HRESULT length : {S_OK, E_NOTIMPL}) {
    ComPtr<MemorySource> source = MemorySource::Create(b.Data());
    if (FAILED(length)) source->FailLength(length);
    const auto [result, visits, position] = WalkTopBox(source.Get());
    EXPECT_EQ(std::make_tuple(result, visits), std::make_tuple(FAILED(length) ? S_FALSE : S_OK, "leaf2 leaf0 "));
  }
}

TEST(BoxTreeTest, HostileNestingIsListedOnlyToTheDepthLimit) {
  BoxBuilder b;
  std::function<void(int)> nest = [&](int level) {
    if (level > 0) b.Box("moov", [&] { nest(level - 1); });
  };
  nest(200);
  std::vector<BoxNode> boxes;
  ASSERT_EQ(ReadBoxTree(b.Reader().Get(), &boxes), S_OK);
  int depth = 0;
  for (const std::vector<BoxNode>* level = &boxes; !level->empty(); level = &level->front().children) ++depth;
  EXPECT_EQ(depth, BoxTreeOptions{}.maxDepth + 1);
}

}  // namespace
