// A registry of the test's own: a fresh folder with ISODMX_REGISTRY naming
// a file in it for as long as the object lives; the previous value comes
// back afterwards and the folder goes.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace isotest {

class TemporaryRegistry {
 public:
  TemporaryRegistry() {
    std::string pattern = (std::filesystem::temp_directory_path() / "isodmx-registry-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
    if (const char* previous = std::getenv("ISODMX_REGISTRY")) previous_ = previous;
    ::setenv("ISODMX_REGISTRY", Path().c_str(), 1);
  }
  ~TemporaryRegistry() {
    if (previous_) {
      ::setenv("ISODMX_REGISTRY", previous_->c_str(), 1);
    } else {
      ::unsetenv("ISODMX_REGISTRY");
    }
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }
  TemporaryRegistry(const TemporaryRegistry&) = delete;
  TemporaryRegistry& operator=(const TemporaryRegistry&) = delete;

  std::string Path() const { return folder_ + "/registry.reg"; }

  std::string Text() const {
    std::ifstream in(Path(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Write(const std::string& text) const { std::ofstream(Path(), std::ios::binary) << text; }

  // Copies `file` into the folder as `name`; returns the copy's path.
  std::string CopyIn(const std::string& file, const std::string& name) const {
    const std::string copy = folder_ + "/" + name;
    std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
    return copy;
  }

 private:
  std::string folder_;
  std::optional<std::string> previous_;
};

}  // namespace isotest
