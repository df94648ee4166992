// Feeds arbitrary text to the registry file reader, and what it accepts
// back through the writer and the reader again, and arbitrary bytes to the
// filter-record reader.
#include "platform/filter_mapper.h"
#include "platform/registry_tree.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RegisteredFilter filter;
  ParseFilterData(data, size, &filter);

  RegistryTree tree;
  std::string error;
  if (!tree.Parse(std::string(reinterpret_cast<const char*>(data), size), &error)) return 0;
  const std::string written = tree.Serialize();
  RegistryTree again;
  // What the writer wrote, the reader must read back unchanged.
  if (!again.Parse(written, &error) || again.Serialize() != written) std::abort();
  return 0;
}
