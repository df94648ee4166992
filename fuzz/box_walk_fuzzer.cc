// Feeds arbitrary bytes to the box walk as the parsers and `isodmx boxes`
// run it (through CReadFromBuffer, every leaf's payload read), and to the
// in-memory header readers.
#include "container/box.h"
#include "container/box_tree.h"
#include "container/read_from_buffer.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

void WalkInMemory(const uint8_t* data, size_t size) {
  const BYTE* cursor = data;
  LONGLONG remaining = static_cast<LONGLONG>(size);
  bool full = false;
  while (remaining > 0) {
    // Alternate plain and full headers so both readers see every shape.
    FullBox fullBox;
    Box plainBox;
    Box& box = full ? fullBox : plainBox;
    full = !full;
    if (box.ReadHeaderFromMemory(&cursor, &remaining) != S_OK) break;
    if (box.ParseFromMemory(&cursor, &remaining) != S_OK) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > INT32_MAX) return 0;
  WalkInMemory(data, size);
  auto* reader = new CReadFromBuffer;
  if (reader->Assign(data, static_cast<LONG>(size)) == S_OK) {
    std::vector<BoxNode> boxes;
    BoxTreeOptions options;
    options.readLeafBodies = true;
    ReadBoxTree(reader, &boxes, options);
  }
  reader->Release();
  return 0;
}
