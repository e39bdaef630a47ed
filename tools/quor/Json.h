// A small JSON writer for the tool's --json output: one object per line, no
// external dependencies.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quortool {

// The text as a JSON string literal, quotes included. RAS texts are 8-bit
// strings in the system's code page, not necessarily UTF-8: valid UTF-8
// sequences pass through, every other byte above 0x7F is taken as Latin-1 and
// written as \u00XX, so the output is always valid JSON.
std::string JsonString(std::string_view text);

// Builds one JSON object, members in the order added.
class JsonObject {
 public:
  JsonObject& Add(std::string_view key, std::string_view value);
  JsonObject& Add(std::string_view key, const char* value) { return Add(key, std::string_view(value)); }
  JsonObject& Add(std::string_view key, const std::string& value) { return Add(key, std::string_view(value)); }
  JsonObject& Add(std::string_view key, int64_t value);
  JsonObject& Add(std::string_view key, int32_t value) { return Add(key, static_cast<int64_t>(value)); }
  JsonObject& Add(std::string_view key, uint32_t value) { return Add(key, static_cast<int64_t>(value)); }
  JsonObject& Add(std::string_view key, uint64_t value);
  JsonObject& Add(std::string_view key, bool value);
  JsonObject& Add(std::string_view key, const std::vector<std::string>& values);
  // A nested object.
  JsonObject& AddObject(std::string_view key, const JsonObject& value);
  // An array of objects.
  JsonObject& AddObjects(std::string_view key, const std::vector<JsonObject>& values);
  JsonObject& AddNull(std::string_view key);
  // Seconds with millisecond precision ("1.250").
  JsonObject& AddSeconds(std::string_view key, uint64_t milliseconds);

  std::string Text() const { return "{" + fBody + "}"; }

 private:
  void Key(std::string_view key);
  std::string fBody;
};

}  // namespace quortool
