#include "RasSim/common/IniFile.h"

#include <algorithm>

#include "RasSim/common/Text.h"

namespace rassim {

namespace {

// The break of a last line that had none. A NUL byte never stands in a
// document (it makes the text corrupt), so it cannot be taken for a break.
const std::string kNoBreak(1, '\0');
const std::string kBom = "\xEF\xBB\xBF";

bool IsComment(const std::string& line) {
  for (char c : line) {
    if (c == ' ' || c == '\t') continue;
    return c == ';' || c == '#';
  }
  return false;
}

bool IsBlank(const std::string& line) {
  for (char c : line)
    if (c != ' ' && c != '\t') return false;
  return true;
}

std::string RTrim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}

}  // namespace

const std::string* IniSection::Find(const std::string& key) const {
  for (const IniLine& l : lines)
    if (l.kind == IniLine::Key && l.key == key) return &l.value;
  return nullptr;
}

std::string IniSection::Get(const std::string& key, const std::string& fallback) const {
  const std::string* v = Find(key);
  return v ? *v : fallback;
}

std::vector<std::string> IniSection::GetAll(const std::string& key) const {
  std::vector<std::string> out;
  for (const IniLine& l : lines)
    if (l.kind == IniLine::Key && l.key == key) out.push_back(l.value);
  return out;
}

namespace {

// A key line built in place: no temporary text holds the value.
IniLine KeyLine(const std::string& key, const std::string& value) {
  IniLine l;
  l.kind = IniLine::Key;
  l.raw.reserve(key.size() + 1 + value.size());
  l.raw.append(key).append(1, '=').append(value);
  l.key = key;
  l.value = value;
  return l;
}

// Replaces every line of `key` by one line per value, at the first one's
// place, or appends them before the blank lines that end the section.
void Replace(std::vector<IniLine>& lines, const std::string& key, const std::string* values, size_t count) {
  size_t first = lines.size();
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].kind == IniLine::Key && lines[i].key == key) {
      first = i;
      break;
    }
  if (first < lines.size()) {
    // Keep the place of the first occurrence; drop the others.
    std::vector<IniLine> kept;
    kept.reserve(lines.size() + count);
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i == first) {
        for (size_t v = 0; v < count; ++v) kept.push_back(KeyLine(key, values[v]));
        continue;
      }
      if (lines[i].kind == IniLine::Key && lines[i].key == key) continue;
      kept.push_back(std::move(lines[i]));
    }
    lines.swap(kept);
    return;
  }
  size_t at = lines.size();
  while (at > 0 && lines[at - 1].kind == IniLine::Blank) --at;
  lines.reserve(lines.size() + count);
  for (size_t v = 0; v < count; ++v)
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at + v), KeyLine(key, values[v]));
}

}  // namespace

void IniSection::Set(const std::string& key, const std::string& value) {
  Replace(lines, key, &value, 1);
}

void IniSection::Remove(const std::string& key) {
  Replace(lines, key, nullptr, 0);
}

void IniSection::SetAll(const std::string& key, const std::vector<std::string>& values) {
  Replace(lines, key, values.data(), values.size());
}

bool IniDocument::Parse(const std::string& text, std::string* why) {
  preamble_.clear();
  sections_.clear();
  crlf_ = false;
  bom_ = false;
  auto fail = [&](size_t lineNo, const char* what) {
    preamble_.clear();
    sections_.clear();
    if (why) *why = "line " + std::to_string(lineNo) + ": " + what;
    return false;
  };
  if (const size_t nul = text.find('\0'); nul != std::string::npos) {
    const size_t line =
        1 + static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(nul), '\n'));
    return fail(line, "NUL byte in file");
  }
  size_t pos = 0, lineNo = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    bom_ = true;
    pos = 3;
  }
  bool first = true;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    WipedText line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    pos = nl == std::string::npos ? text.size() : nl + 1;
    ++lineNo;
    std::string eol;
    if (nl == std::string::npos) {
      eol = kNoBreak;
    } else if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      eol = "\r\n";
    } else {
      eol = "\n";
    }
    if (first) crlf_ = eol == "\r\n";
    first = false;
    std::vector<IniLine>& target = sections_.empty() ? preamble_ : sections_.back().lines;
    if (IsBlank(line)) {
      target.push_back(IniLine{IniLine::Blank, line, {}, {}, eol});
      continue;
    }
    if (IsComment(line)) {
      target.push_back(IniLine{IniLine::Comment, line, {}, {}, eol});
      continue;
    }
    if (line[0] == '[') {
      std::string h = RTrim(line);
      if (h.size() < 2 || h.back() != ']') return fail(lineNo, "section header without closing bracket");
      std::string name = h.substr(1, h.size() - 2);
      if (name.empty()) return fail(lineNo, "section header without a name");
      sections_.push_back(IniSection{name, line, {}, eol, lineNo});
      continue;
    }
    if (sections_.empty()) return fail(lineNo, "line outside any section");
    size_t eq = line.find('=');
    if (eq == std::string::npos) return fail(lineNo, "line without '='");
    std::string key = Trim(line.substr(0, eq));
    if (key.empty()) return fail(lineNo, "line without a key");
    target.push_back(IniLine{IniLine::Key, line, key, line.substr(eq + 1), eol});
  }
  return true;
}

WipedText IniDocument::Serialize() const {
  const std::string own = crlf_ ? "\r\n" : "\n";
  // Lines keep the break they were read with; the last line read without
  // one stays without one while it is still the last line. Measured first,
  // then written into one buffer: no text of the file is left in a buffer
  // given up while growing.
  const auto walk = [&](auto&& emit) {
    if (bom_) emit(kBom);
    const std::string* pending = nullptr;
    auto put = [&](const std::string& raw, const std::string& eol) {
      if (pending) emit((*pending == kNoBreak || pending->empty()) ? own : *pending);
      emit(raw);
      pending = &eol;
    };
    for (const IniLine& l : preamble_) put(l.raw, l.eol);
    for (const IniSection& s : sections_) {
      put(s.header, s.headerEol);
      for (const IniLine& l : s.lines) put(l.raw, l.eol);
    }
    if (pending && *pending != kNoBreak) emit(pending->empty() ? own : *pending);
  };
  size_t size = 0;
  walk([&](const std::string& piece) { size += piece.size(); });
  WipedText out;
  out.reserve(size);
  walk([&](const std::string& piece) { out += piece; });
  return out;
}

IniSection* IniDocument::Find(const std::string& name) {
  for (IniSection& s : sections_)
    if (SameName(s.name, name)) return &s;
  return nullptr;
}

const IniSection* IniDocument::Find(const std::string& name) const {
  for (const IniSection& s : sections_)
    if (SameName(s.name, name)) return &s;
  return nullptr;
}

IniSection& IniDocument::Add(const std::string& name) {
  // Separate the new section from the previous one by a blank line.
  std::vector<IniLine>& last = sections_.empty() ? preamble_ : sections_.back().lines;
  if (!last.empty() && last.back().kind != IniLine::Blank) last.push_back(IniLine{IniLine::Blank, "", {}, {}, {}});
  sections_.push_back(IniSection{name, "[" + name + "]", {}, {}});
  return sections_.back();
}

bool IniDocument::Remove(const std::string& name) {
  for (size_t i = 0; i < sections_.size(); ++i)
    if (SameName(sections_[i].name, name)) {
      sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  return false;
}

void IniDocument::Rename(IniSection& section, const std::string& newName) {
  section.name = newName;
  section.header = "[" + newName + "]";
}

}  // namespace rassim
