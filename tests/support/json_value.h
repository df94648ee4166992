// A small JSON reader for tests that compare documents (the tool's output,
// the facts files of tests/data): objects, arrays, strings with simple
// escapes, integers, true, false and null. Decimals are not read.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class JsonValue {
 public:
  enum class Kind { kNull, kBool, kInteger, kString, kArray, kObject };

  // The value of `text`, or nothing when it is not one JSON document.
  static std::optional<JsonValue> Parse(std::string_view text);

  bool IsNull() const { return kind_ == Kind::kNull; }
  bool Bool() const { return boolean_; }
  int64_t Int() const { return integer_; }
  const std::string& String() const { return string_; }
  const std::vector<JsonValue>& Array() const { return array_; }
  // A member, or null when absent.
  const JsonValue* Find(const std::string& name) const;
  // A member that must be present (a null value otherwise).
  const JsonValue& operator[](const std::string& name) const;
  const JsonValue& operator[](size_t index) const { return array_.at(index); }
  size_t Size() const { return kind_ == Kind::kArray ? array_.size() : object_.size(); }

 private:
  friend class JsonParser;

  Kind kind_ = Kind::kNull;
  bool boolean_ = false;
  int64_t integer_ = 0;
  std::string string_;
  std::vector<JsonValue> array_;
  std::map<std::string, JsonValue> object_;
};

// The whole contents of a file, or nothing.
std::optional<std::string> ReadTextFile(const std::string& path);
