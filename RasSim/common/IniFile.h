// The text format of every file of the simulated RAS service: the Windows
// phonebook (rasphone.pbk) format of `[section]` headers and `key=value`
// lines. A document keeps every line it read - comments, blank lines, keys it
// does not know, their order - and writes them back as they were; only the
// lines an operation changes are rewritten.
//
// What is corrupt (Parse returns false and names the line):
//   - a NUL byte anywhere in the file;
//   - a line that is neither blank, nor a comment (first non-blank character
//     ';' or '#'), nor a section header, before the first section header;
//   - a line starting with '[' that does not end with ']' (trailing blanks
//     allowed), and a header with an empty name "[]";
//   - inside a section, a line that is not blank, not a comment and has no '='
//     or an empty key ("=value").
// Rewriting is byte-exact for every line an operation leaves alone: each
// line keeps its own line break (LF or CRLF, a CR before it is part of the
// line), a UTF-8 byte-order mark stays, and a last line without a line break
// keeps going without one. New lines take the first line's break.
//
// Keys are case-sensitive ("Device" and "DEVICE" are different keys, as in
// rasphone.pbk) and may repeat; section names compare with SameName.
#pragma once

#include <string>
#include <vector>

#include "RasSim/common/Secret.h"

namespace rassim {

// A line's text and value may be a secret (the credential file's password):
// they are wiped when the line dies or changes.
struct IniLine {
  enum Kind { Blank, Comment, Key } kind = Blank;
  WipedText raw;  // the line as read, without its line break
  std::string key;
  WipedText value;
  std::string eol;  // its line break as read ("\n", "\r\n"); empty: the document's own
};

struct IniSection {
  std::string name;
  std::string header;  // raw header line
  std::vector<IniLine> lines;
  std::string headerEol;  // the header's line break as read; empty: the document's own
  size_t lineNo = 0;      // the header's line in the text read (0: added since)

  // First value of key; null when absent.
  const std::string* Find(const std::string& key) const;
  std::string Get(const std::string& key, const std::string& fallback = std::string()) const;
  std::vector<std::string> GetAll(const std::string& key) const;
  // Replaces the first occurrence (removing the later ones) or appends.
  void Set(const std::string& key, const std::string& value);
  void Remove(const std::string& key);
  // Replaces every occurrence by one line per value, at the first one's place.
  void SetAll(const std::string& key, const std::vector<std::string>& values);
};

class IniDocument {
 public:
  // Parses text; false (document left empty) when it is corrupt.
  bool Parse(const std::string& text, std::string* why = nullptr);
  WipedText Serialize() const;

  std::vector<IniSection>& Sections() { return sections_; }
  const std::vector<IniSection>& Sections() const { return sections_; }
  IniSection* Find(const std::string& name);
  const IniSection* Find(const std::string& name) const;
  IniSection& Add(const std::string& name);
  bool Remove(const std::string& name);
  void Rename(IniSection& section, const std::string& newName);

 private:
  std::vector<IniLine> preamble_;
  std::vector<IniSection> sections_;
  bool crlf_ = false;
  bool bom_ = false;
};

}  // namespace rassim
