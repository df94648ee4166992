// A file of given bytes in the test's temporary directory, removed again
// when it goes out of scope. Header-only: it needs GoogleTest's TempDir.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

class TemporaryFile {
 public:
  explicit TemporaryFile(const std::vector<uint8_t>& bytes)
      : path_(::testing::TempDir() + "isodmx_test_" + std::to_string(getpid()) + "_" + std::to_string(counter_++) +
              ".mp4") {
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() { std::remove(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  static inline int counter_ = 0;
  std::string path_;
};
