#include "json_value.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}

  bool Document(JsonValue* out) {
    if (!Value(out, 0)) return false;
    SkipSpace();
    return at_ == text_.size();
  }

 private:
  static constexpr int kMaxDepth = 64;

  void SkipSpace() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t')) {
      ++at_;
    }
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
    const char c = text_[at_];
    if (c == '{') return Object(out, depth);
    if (c == '[') return ArrayValue(out, depth);
    if (c == '"') {
      out->kind_ = JsonValue::Kind::kString;
      return StringValue(&out->string_);
    }
    if (Literal("true")) {
      out->kind_ = JsonValue::Kind::kBool;
      out->boolean_ = true;
      return true;
    }
    if (Literal("false")) {
      out->kind_ = JsonValue::Kind::kBool;
      return true;
    }
    if (Literal("null")) return true;
    return Number(out);
  }

  bool Number(JsonValue* out) {
    const size_t start = at_;
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
    if (at_ == start) return false;
    const std::string number(text_.substr(start, at_ - start));
    char* end = nullptr;
    out->kind_ = JsonValue::Kind::kInteger;
    out->integer_ = std::strtoll(number.c_str(), &end, 10);
    return end == number.c_str() + number.size();
  }

  bool StringValue(std::string* out) {
    ++at_;
    while (at_ < text_.size() && text_[at_] != '"') {
      char c = text_[at_++];
      if (c == '\\') {
        if (at_ >= text_.size()) return false;
        const char escaped = text_[at_++];
        switch (escaped) {
          case 'n':
            c = '\n';
            break;
          case 't':
            c = '\t';
            break;
          case 'r':
            c = '\r';
            break;
          case 'u':
            // Only the ASCII range is needed by the documents read here.
            if (at_ + 4 > text_.size()) return false;
            c = static_cast<char>(std::strtol(std::string(text_.substr(at_, 4)).c_str(), nullptr, 16));
            at_ += 4;
            break;
          default:
            c = escaped;
            break;
        }
      }
      out->push_back(c);
    }
    if (at_ >= text_.size()) return false;
    ++at_;
    return true;
  }

  bool ArrayValue(JsonValue* out, int depth) {
    out->kind_ = JsonValue::Kind::kArray;
    ++at_;
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == ']') {
      ++at_;
      return true;
    }
    for (;;) {
      JsonValue element;
      if (!Value(&element, depth + 1)) return false;
      out->array_.push_back(std::move(element));
      SkipSpace();
      if (at_ >= text_.size()) return false;
      if (text_[at_++] == ']') return true;
      if (text_[at_ - 1] != ',') return false;
    }
  }

  bool Object(JsonValue* out, int depth) {
    out->kind_ = JsonValue::Kind::kObject;
    ++at_;
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == '}') {
      ++at_;
      return true;
    }
    for (;;) {
      SkipSpace();
      std::string name;
      if (at_ >= text_.size() || text_[at_] != '"' || !StringValue(&name)) return false;
      SkipSpace();
      if (at_ >= text_.size() || text_[at_++] != ':') return false;
      JsonValue member;
      if (!Value(&member, depth + 1)) return false;
      out->object_[name] = std::move(member);
      SkipSpace();
      if (at_ >= text_.size()) return false;
      if (text_[at_++] == '}') return true;
      if (text_[at_ - 1] != ',') return false;
    }
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
