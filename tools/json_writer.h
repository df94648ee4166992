// A small streaming JSON writer for the tool's documents: objects, arrays,
// strings, integers, booleans and null, with commas placed for the caller.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // Names the next value inside an object.
  JsonWriter& Key(std::string_view name);

  JsonWriter& String(std::string_view text);
  JsonWriter& Int(int64_t value);
  JsonWriter& UInt(uint64_t value);
  JsonWriter& Double(double value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();
  // Writes already-formed JSON text as one value.
  JsonWriter& Raw(std::string_view json);

  const std::string& Text() const { return out_; }
  // Writes the text formed so far to `to` and forgets it; the document goes
  // on where it was, so a long one never sits in memory whole.
  void FlushTo(std::FILE* to);

 private:
  void BeforeValue();
  void WriteQuoted(std::string_view text);

  std::string out_;
  // Per open container: whether a value was already written in it.
  std::vector<bool> hasValue_;
  bool afterKey_ = false;
};

// Lower-case hex of a byte string.
std::string HexBytes(const uint8_t* data, size_t size);
