// Feeds arbitrary bytes to the box walk as the parsers and `isodmx boxes`
// run it (through a memory byte source, every leaf's payload read), and to
// the in-memory header readers.
#include "support/box_builder.h"

#include "container/box.h"
#include "container/box_tree.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > INT32_MAX) return 0;
  const BYTE* cursor = data;
  LONGLONG remaining = static_cast<LONGLONG>(size);
  // Alternate plain and full headers so both readers see every shape.
  for (bool full = false; remaining > 0; full = !full) {
    FullBox fullBox;
    Box plainBox;
    Box& box = full ? fullBox : plainBox;
    if (box.ReadHeaderFromMemory(&cursor, &remaining) != S_OK || box.ParseFromMemory(&cursor, &remaining) != S_OK) {
      break;
    }
  }
  std::vector<BoxNode> boxes;
  ReadBoxTree(MakeMemoryReader({data, data + size}).Get(), &boxes, {.readLeafBodies = true});
  return 0;
}
