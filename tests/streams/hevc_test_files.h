// The raw H.265 streams and hvcC box that tests/data/hevc/make.sh made.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::vector<uint8_t> LoadHevcTestFile(const std::string& name) {
  std::ifstream file(std::string(ISODMX_TEST_DATA) + "/hevc/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
