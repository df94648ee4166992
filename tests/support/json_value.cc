#include "json_value.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}

  bool Document(JsonValue* out) { return Value(out, 0) && (SkipSpace(), at_ == text_.size()); }

 private:
  static constexpr int kMaxDepth = 64;

  void SkipSpace() {
    while (at_ < text_.size() && std::string_view(" \n\r\t").find(text_[at_]) != std::string_view::npos) ++at_;
  }
  // Skips `c` (after white space) when it comes next.
  bool Next(char c) {
    SkipSpace();
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool Literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  bool Value(JsonValue* out, int depth) {
    if (depth > kMaxDepth) return false;
    SkipSpace();
    if (at_ >= text_.size()) return false;
    using Kind = JsonValue::Kind;
    if (text_[at_] == '{' || text_[at_] == '[') return Container(out, depth);
    if (text_[at_] == '"') {
      out->kind_ = Kind::kString;
      return StringValue(&out->string_);
    }
    for (const bool truth : {true, false}) {
      if (!Literal(truth ? "true" : "false")) continue;
      out->kind_ = Kind::kBool;
      out->boolean_ = truth;
      return true;
    }
    if (Literal("null")) return true;
    const size_t start = at_;
    if (text_[at_] == '-') ++at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
    const std::string number(text_.substr(start, at_ - start));
    char* end = nullptr;
    out->kind_ = Kind::kInteger;
    out->integer_ = std::strtoll(number.c_str(), &end, 10);
    return !number.empty() && end == number.c_str() + number.size();
  }

  bool StringValue(std::string* out) {
    ++at_;
    while (at_ < text_.size() && text_[at_] != '"') {
      char c = text_[at_++];
      if (c == '\\') {
        if (at_ >= text_.size()) return false;
        c = text_[at_++];
        if (c == 'n') c = '\n';
        if (c == 't') c = '\t';
        if (c == 'r') c = '\r';
        if (c == 'u') {
          // Only the ASCII range is needed by the documents read here.
          if (at_ + 4 > text_.size()) return false;
          c = static_cast<char>(std::strtol(std::string(text_.substr(at_, 4)).c_str(), nullptr, 16));
          at_ += 4;
        }
      }
      out->push_back(c);
    }
    return at_++ < text_.size();
  }

  // An array or an object: its elements, or its members by name.
  bool Container(JsonValue* out, int depth) {
    const bool object = text_[at_++] == '{';
    const char close = object ? '}' : ']';
    out->kind_ = object ? JsonValue::Kind::kObject : JsonValue::Kind::kArray;
    if (Next(close)) return true;
    do {
      std::string name;
      SkipSpace();
      if (object && (at_ >= text_.size() || text_[at_] != '"' || !StringValue(&name) || !Next(':'))) return false;
      JsonValue element;
      if (!Value(&element, depth + 1)) return false;
      if (object) {
        out->object_[name] = std::move(element);
      } else {
        out->array_.push_back(std::move(element));
      }
    } while (Next(','));
    return Next(close);
  }

  std::string_view text_;
  size_t at_ = 0;
};

std::optional<JsonValue> JsonValue::Parse(std::string_view text) {
  JsonValue value;
  if (!JsonParser(text).Document(&value)) return std::nullopt;
  return value;
}

const JsonValue* JsonValue::Find(const std::string& name) const {
  const auto found = object_.find(name);
  return found == object_.end() ? nullptr : &found->second;
}

const JsonValue& JsonValue::operator[](const std::string& name) const {
  static const JsonValue kNull;
  const JsonValue* member = Find(name);
  return member != nullptr ? *member : kNull;
}

std::optional<std::string> ReadTextFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}
