// The real files of tests/data: their paths, and the media files that come
// with what ffprobe reported of them (NAME.facts.json beside NAME), for
// tests run once per file. Header-only: ISODMX_TEST_DATA is defined for
// test targets, not for the support library.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

namespace isotest {

inline std::string DataPath(const std::string& name) { return std::string(ISODMX_TEST_DATA) + "/" + name; }

// The names of the media files with facts, sorted.
inline std::vector<std::string> FilesWithFacts() {
  const std::string suffix = ".facts.json";
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(ISODMX_TEST_DATA)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      names.push_back(name.substr(0, name.size() - suffix.size()));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A file name as a test name: "yuv2.mov" -> "yuv2_mov".
inline std::string FileTestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
  return name;
}

}  // namespace isotest
