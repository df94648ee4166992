#include "container/box_tree.h"

#include "container/box_walk.h"
#include "platform/fourcc.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr DWORD kKnownContainers[] = {
    FourCC("moov"), FourCC("trak"), FourCC("mdia"), FourCC("minf"), FourCC("stbl"),
    FourCC("mvex"), FourCC("moof"), FourCC("traf"), FourCC("mfra"), FourCC("edts"),
    FourCC("dinf"), FourCC("udta"), FourCC("cmov"),
};

constexpr DWORD kSampleDescriptionType = FourCC("stsd");
// Version, flags and entry count come before the sample entries.
constexpr LONGLONG kSampleDescriptionPrefix = 8;

class BoxTreeReader {
 public:
  BoxTreeReader(IAsyncReader* source, const BoxTreeOptions& options) : source_(source), options_(options) {}

  HRESULT WalkLevel(LONGLONG* position, Box& container, int depth, bool entriesAreLeaves, std::vector<BoxNode>* out) {
    BoxWalk walk(source_, position, container);
    Box child;
    while (walk.Next(child)) {
      out->push_back(BoxNode{child.type, walk.ChildOffset(), walk.ChildHeaderSize(), child.size, {}});
      const HRESULT hr = VisitChild(walk, position, container, child, depth, entriesAreLeaves, &out->back().children);
      if (hr != S_OK) return hr;
    }
    // Running out of source between top-level boxes only means the file ended.
    if (depth == 0 && walk.Result() == S_FALSE) return S_OK;
    return walk.Result();
  }

 private:
  HRESULT VisitChild(BoxWalk& walk, LONGLONG* position, Box& container, Box& child, int depth, bool isLeaf,
                     std::vector<BoxNode>* children) {
    const bool canDescend = !isLeaf && depth < options_.maxDepth;
    if (canDescend && IsKnownContainer(child.type)) {
      RETURN_IF_FAILED(ClaimChild(&container.size, child));
      return WalkLevel(position, child, depth + 1, false, children);
    }
    if (canDescend && child.type == kSampleDescriptionType) {
      RETURN_IF_FAILED(ClaimChild(&container.size, child));
      RETURN_IF_FAILED(child.Fields(source_, position).Skip(kSampleDescriptionPrefix));
      return WalkLevel(position, child, depth + 1, true, children);
    }
    if (!options_.readLeafBodies) return walk.SkipChild(child);
    const HRESULT hr = child.ReadBody(source_, position, &container.size);
    child.FreeData();
    return hr;
  }

  IAsyncReader* source_;
  const BoxTreeOptions& options_;
};

}  // namespace

bool IsKnownContainer(DWORD type) {
  return std::find(std::begin(kKnownContainers), std::end(kKnownContainers), type) != std::end(kKnownContainers);
}

HRESULT ReadBoxTree(IAsyncReader* source, std::vector<BoxNode>* boxes, const BoxTreeOptions& options) {
  if (source == nullptr || boxes == nullptr) return E_POINTER;
  boxes->clear();
  // The top level is walked as one container over the whole source, so a
  // size-0 box there runs to the end of the file like anywhere else.
  LONGLONG total = 0;
  LONGLONG available = 0;
  Box file;
  file.size = SUCCEEDED(source->Length(&total, &available)) && total >= 0 ? total : INT64_MAX;
  LONGLONG position = 0;
  return BoxTreeReader(source, options).WalkLevel(&position, file, 0, false, boxes);
}
