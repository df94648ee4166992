// The box tree of a source: the top level and every container the parser
// knows, read with the same walk the parsers use. The `boxes` command prints
// it and the box-walk fuzzer drives it.
#pragma once

#include "platform/async_reader.h"

#include <vector>

struct BoxNode {
  DWORD type = 0;
  // Offset of the header's first byte.
  LONGLONG offset = 0;
  LONGLONG headerSize = 0;
  LONGLONG payloadSize = 0;
  std::vector<BoxNode> children;
};

struct BoxTreeOptions {
  // Read every leaf's payload with ReadBody instead of stepping over it.
  bool readLeafBodies = false;
  // Containers nested deeper than this are listed as leaves, so hostile
  // nesting cannot exhaust the stack.
  int maxDepth = 16;
};

// True for the containers whose children the tree lists ("moov", "trak" ...).
// "stsd" is not one of them: its children are found after its entry count.
bool IsKnownContainer(DWORD type);

// Reads the tree into *boxes. The boxes read before a failure stay in it. A
// source that ends between top-level boxes is not a failure.
HRESULT ReadBoxTree(IAsyncReader* source, std::vector<BoxNode>* boxes, const BoxTreeOptions& options = {});
