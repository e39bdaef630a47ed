#include "tools/quor/Json.h"

#include <cstdio>

namespace quortool {

namespace {

// Length of the valid UTF-8 sequence starting at text[i], or 0 when the
// bytes there do not form one (overlong forms and surrogates included).
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length = 0;
  uint32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07u;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0u) != 0x80u) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3Fu);
  }
  if (length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return 0;
  if (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
  return length;
}

void AppendUnicodeEscape(std::string& out, unsigned value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04x", value);
  out += buf;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const size_t length = Utf8SequenceLength(text, i);
      if (length > 0) {
        out.append(text.substr(i, length));
        i += length;
      } else {
        AppendUnicodeEscape(out, c);
        ++i;
      }
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          AppendUnicodeEscape(out, c);
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
  return out;
}

void JsonObject::Key(std::string_view key) {
  if (!fBody.empty()) fBody += ',';
  fBody += JsonString(key);
  fBody += ':';
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view value) {
  Key(key);
  fBody += JsonString(value);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, int64_t value) {
  Key(key);
  fBody += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, uint64_t value) {
  Key(key);
  fBody += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, bool value) {
  Key(key);
  fBody += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, const std::vector<std::string>& values) {
  Key(key);
  fBody += '[';
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) fBody += ',';
    fBody += JsonString(values[i]);
  }
  fBody += ']';
  return *this;
}

JsonObject& JsonObject::AddObject(std::string_view key, const JsonObject& value) {
  Key(key);
  fBody += value.Text();
  return *this;
}

JsonObject& JsonObject::AddObjects(std::string_view key, const std::vector<JsonObject>& values) {
  Key(key);
  fBody += "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i != 0) fBody += ',';
    fBody += values[i].Text();
  }
  fBody += "]";
  return *this;
}

JsonObject& JsonObject::AddNull(std::string_view key) {
  Key(key);
  fBody += "null";
  return *this;
}

JsonObject& JsonObject::AddSeconds(std::string_view key, uint64_t milliseconds) {
  Key(key);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llu.%03u", static_cast<unsigned long long>(milliseconds / 1000),
                static_cast<unsigned>(milliseconds % 1000));
  fBody += buf;
  return *this;
}

}  // namespace quortool
