// Form streaming: reading the text form of components (lexer, parse tree,
// creation), checked in full before anything is created.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <system_error>

#include "Vcl/Streaming.h"
#include "Vcl/StreamingSupport.h"

using namespace vcl_streaming;

namespace {

// ---------------------------------------------------------------- lexer
enum class Tok { Ident, Number, String, Symbol, End };

struct Token {
  Tok Kind = Tok::End;
  int Line = 1;
  String Text;  // identifier, decoded string, or the symbol
  uint64_t Magnitude = 0;
  bool Overflow = false;
};

class Lexer {
 public:
  explicit Lexer(const String& Text) : fText(Text) {}

  std::vector<Token> All() {
    std::vector<Token> toks;
    for (;;) {
      Token t = Next();
      toks.push_back(t);
      if (t.Kind == Tok::End) return toks;
    }
  }

 private:
  [[noreturn]] void Fail(const String& Msg) const { throw EFormError(fLine, Msg); }

  unsigned char Peek(size_t Ahead = 0) const {
    return fPos + Ahead < fText.size() ? static_cast<unsigned char>(fText[fPos + Ahead]) : 0;
  }
  bool AtEnd(size_t Ahead = 0) const { return fPos + Ahead >= fText.size(); }

  Token Next() {
    // Blanks and line breaks (LF, CR LF or a lone CR).
    while (!AtEnd()) {
      const unsigned char c = Peek();
      if (c == ' ' || c == '\t') {
        ++fPos;
      } else if (c == '\n') {
        ++fPos;
        ++fLine;
      } else if (c == '\r') {
        ++fPos;
        if (Peek() == '\n') ++fPos;
        ++fLine;
      } else {
        break;
      }
    }
    Token t;
    t.Line = fLine;
    if (AtEnd()) {
      // The end of the text belongs to the last line that holds anything.
      t.Line = fLastLine;
      return t;
    }
    fLastLine = fLine;
    const unsigned char c = Peek();
    if (IsIdentStart(c)) {
      t.Kind = Tok::Ident;
      while (!AtEnd() && IsIdentChar(Peek())) t.Text += static_cast<char>(fText[fPos++]);
      return t;
    }
    if (IsDigit(c)) {
      t.Kind = Tok::Number;
      ReadDigits(t.Magnitude, t.Overflow);
      if (!AtEnd() && IsIdentChar(Peek())) Fail("malformed number");
      return t;
    }
    if (c == '\'' || c == '#') {
      t.Kind = Tok::String;
      ReadString(t.Text);
      return t;
    }
    if (c == ':' || c == '=' || c == '+' || c == '-') {
      t.Kind = Tok::Symbol;
      t.Text = String(1, static_cast<char>(c));
      ++fPos;
      return t;
    }
    if (c >= 32 && c < 127) Fail(String("unexpected character '") + static_cast<char>(c) + "'");
    Fail("unexpected character #" + std::to_string(c));
  }

  void ReadDigits(uint64_t& Value, bool& Overflow) {
    Value = 0;
    Overflow = false;
    while (!AtEnd() && IsDigit(Peek())) {
      const uint64_t d = Peek() - '0';
      if (Value > (std::numeric_limits<uint64_t>::max() - d) / 10) Overflow = true;
      if (!Overflow) Value = Value * 10 + d;
      ++fPos;
    }
  }

  // A string: adjacent pieces 'quoted text' and #NNN character codes.
  void ReadString(String& Out) {
    for (;;) {
      const unsigned char c = Peek();
      if (c == '\'' && !AtEnd()) {
        ++fPos;
        for (;;) {
          if (AtEnd() || Peek() == '\n' || Peek() == '\r') Fail("unterminated string");
          const char ch = fText[fPos++];
          if (ch == '\'') {
            if (Peek() == '\'') {
              Out += '\'';
              ++fPos;
              continue;
            }
            break;
          }
          Out += ch;
        }
      } else if (c == '#' && !AtEnd()) {
        ++fPos;
        if (!IsDigit(Peek())) Fail("'#' must be followed by a character code");
        uint64_t code = 0;
        bool overflow = false;
        ReadDigits(code, overflow);
        if (overflow || code > 255)
          Fail("character code #" + (overflow ? String("...") : std::to_string(code)) + " is out of range (0..255)");
        Out += static_cast<char>(static_cast<unsigned char>(code));
      } else {
        return;
      }
    }
  }

  const String& fText;
  size_t fPos = 0;
  int fLine = 1;
  int fLastLine = 1;
};

// ---------------------------------------------------------------- parse tree
struct ParsedProp {
  const TPropInfo* Prop = nullptr;
  TPropValue Value;
  int Line = 0;
};

struct ParsedObject {
  String Name;
  TComponentClass Class = nullptr;
  int Line = 0;
  std::vector<ParsedProp> Props;
  std::vector<ParsedObject> Children;
};

class Parser {
 public:
  Parser(std::vector<Token> Toks, TComponent* Owner) : fToks(std::move(Toks)), fOwner(Owner) {}

  ParsedObject Parse() {
    if (Cur().Kind == Tok::End) throw EFormError(Cur().Line, "the form is empty: expected 'object'");
    ParsedObject root = ParseObject(0);
    if (fOwner != nullptr && !root.Name.empty()) {
      for (int i = 0; i < fOwner->ComponentCount(); ++i) {
        if (SameText(fOwner->Components(i)->Name(), root.Name))
          throw EFormError(root.Line, "a component named " + root.Name + " already exists");
      }
    }
    if (Cur().Kind != Tok::End) throw EFormError(Cur().Line, "unexpected text after the end of the form");
    return root;
  }

 private:
  const Token& Cur() const { return fToks[fPos]; }
  const Token& Prev() const { return fToks[fPos - 1]; }
  void Advance() {
    if (fToks[fPos].Kind != Tok::End) ++fPos;
  }
  bool IsKeyword(const Token& T, const char* Word) const { return T.Kind == Tok::Ident && SameText(T.Text, Word); }
  bool IsSymbol(const Token& T, char C) const { return T.Kind == Tok::Symbol && T.Text.size() == 1 && T.Text[0] == C; }

  // Each header, property and 'end' stands on a line of its own.
  void ExpectLineEnd(const char* What) {
    if (Cur().Kind != Tok::End && Cur().Line == Prev().Line)
      throw EFormError(Cur().Line, String("unexpected text after ") + What);
  }

  String Describe(const Token& T) const {
    switch (T.Kind) {
      case Tok::Ident:
        return "'" + T.Text + "'";
      case Tok::Number:
        return "a number";
      case Tok::String:
        return "a string";
      case Tok::Symbol:
        return "'" + T.Text + "'";
      case Tok::End:
        return "the end of the form";
    }
    return "?";
  }

  ParsedObject ParseObject(int Depth) {
    if (Depth >= kMaxDepth) throw EFormError(Cur().Line, "objects are nested too deeply");
    if (!IsKeyword(Cur(), "object")) throw EFormError(Cur().Line, "expected 'object', found " + Describe(Cur()));
    ParsedObject obj;
    obj.Line = Cur().Line;
    Advance();
    if (Cur().Kind != Tok::Ident || Cur().Line != obj.Line)
      throw EFormError(obj.Line, "expected a component name or class name after 'object'");
    String first = Cur().Text;
    Advance();
    String className = first;
    if (IsSymbol(Cur(), ':') && Cur().Line == obj.Line) {
      Advance();
      if (Cur().Kind != Tok::Ident || Cur().Line != obj.Line)
        throw EFormError(obj.Line, "expected a class name after '" + first + ":'");
      obj.Name = first;
      className = Cur().Text;
      Advance();
    }
    ExpectLineEnd("the object header");
    obj.Class = FindClass(className);
    if (obj.Class == nullptr) throw EFormError(obj.Line, "unknown class " + className);
    if (!obj.Class->Create) throw EFormError(obj.Line, "class " + obj.Class->ClassName + " cannot be created");

    for (;;) {
      const Token& t = Cur();
      if (t.Kind == Tok::End)
        throw EFormError(t.Line, "missing 'end' of object " + (obj.Name.empty() ? obj.Class->ClassName : obj.Name) +
                                     " begun on line " + std::to_string(obj.Line));
      if (IsKeyword(t, "end")) {
        Advance();
        ExpectLineEnd("'end'");
        return obj;
      }
      if (IsKeyword(t, "object")) {
        ParsedObject child = ParseObject(Depth + 1);
        if (!child.Name.empty()) {
          if (SameText(child.Name, obj.Name))
            throw EFormError(child.Line, "a component named " + child.Name + " already exists");
          for (const ParsedObject& other : obj.Children) {
            if (SameText(other.Name, child.Name))
              throw EFormError(child.Line, "a component named " + child.Name + " already exists");
          }
        }
        obj.Children.push_back(std::move(child));
        continue;
      }
      if (t.Kind != Tok::Ident)
        throw EFormError(t.Line, "expected a property name, 'object' or 'end', found " + Describe(t));
      obj.Props.push_back(ParseProperty(obj));
    }
  }

  ParsedProp ParseProperty(const ParsedObject& Obj) {
    ParsedProp p;
    p.Line = Cur().Line;
    const String name = Cur().Text;
    p.Prop = FindPublishedProperty(Obj.Class, name);
    if (p.Prop == nullptr) throw EFormError(p.Line, Obj.Class->ClassName + " has no property " + name);
    if (!p.Prop->Set) throw EFormError(p.Line, "property " + p.Prop->Name + " is read-only");
    for (const ParsedProp& other : Obj.Props) {
      if (other.Prop == p.Prop)
        throw EFormError(
            p.Line, "property " + p.Prop->Name + " is given twice (first on line " + std::to_string(other.Line) + ")");
    }
    Advance();
    if (!IsSymbol(Cur(), '=') || Cur().Line != p.Line) throw EFormError(p.Line, "expected '=' after " + name);
    Advance();
    if (Cur().Kind == Tok::End || Cur().Line != p.Line) throw EFormError(p.Line, "missing value of " + p.Prop->Name);
    p.Value = ParseValue(*p.Prop, p.Line);
    ExpectLineEnd("the value");
    return p;
  }

  TPropValue ParseValue(const TPropInfo& Prop, int Line) {
    TPropValue v;
    v.Kind = Prop.Kind;
    const Token& t = Cur();
    if (t.Kind == Tok::Number || IsSymbol(t, '-') || IsSymbol(t, '+')) {
      Number n;
      if (t.Kind == Tok::Symbol) {
        n.Negative = t.Text == "-";
        Advance();
        if (Cur().Kind != Tok::Number || Cur().Line != Line)
          throw EFormError(Line, "expected a number after '" + t.Text + "'");
      }
      n.Magnitude = Cur().Magnitude;
      n.Overflow = Cur().Overflow;
      Advance();
      const String err = OrdinalError(Prop, n, v.Ord);
      if (!err.empty()) throw EFormError(Line, err);
      return v;
    }
    if (t.Kind == Tok::String) {
      String s = t.Text;
      Advance();
      // 'long text ' +
      //   'continued'
      while (IsSymbol(Cur(), '+') && Cur().Line == Prev().Line) {
        Advance();
        if (Cur().Kind != Tok::String) throw EFormError(Cur().Line, "expected a string after '+'");
        s += Cur().Text;
        Advance();
      }
      if (Prop.Kind != TTypeKind::String)
        throw EFormError(Line, Prop.Name + " expects " +
                                   (Prop.Kind == TTypeKind::Boolean  ? String("True or False")
                                    : Prop.Kind == TTypeKind::Method ? String("a handler name")
                                                                     : "a " + KindName(Prop.Kind) + " value") +
                                   ", not a string");
      v.Str = std::move(s);
      return v;
    }
    if (t.Kind == Tok::Ident) {
      const String word = t.Text;
      Advance();
      if (Prop.Kind == TTypeKind::Boolean) {
        if (SameText(word, "True"))
          v.Ord = 1;
        else if (SameText(word, "False"))
          v.Ord = 0;
        else
          throw EFormError(Line, Prop.Name + " expects True or False, not " + word);
        return v;
      }
      if (Prop.Kind == TTypeKind::Method) {
        v.Str = word;
        return v;
      }
      throw EFormError(
          Line, Prop.Name + " expects " +
                    (Prop.Kind == TTypeKind::String ? String("a string") : "a " + KindName(Prop.Kind) + " value") +
                    ", not " + word);
    }
    throw EFormError(Line, "expected a value for " + Prop.Name + ", found " + Describe(t));
  }

  std::vector<Token> fToks;
  size_t fPos = 0;
  TComponent* fOwner;
};

// ---------------------------------------------------------------- creation
void Apply(TComponent& C, const ParsedObject& Obj, const TFormMethods* Methods) {
  C.SetName(Obj.Name);
  for (const ParsedProp& p : Obj.Props) {
    try {
      if (p.Prop->Kind == TTypeKind::Method && Methods != nullptr && Methods->Bind) {
        if (!Methods->Bind(C, *p.Prop, p.Value.Str))
          throw EFormError(p.Line, "unknown handler " + p.Value.Str + " for " + p.Prop->Name);
        continue;
      }
      p.Prop->Set(C, p.Value);
    } catch (const EFormError&) {
      throw;
    } catch (const std::exception& e) {
      throw EFormError(p.Line, "cannot set " + p.Prop->Name + ": " + e.what());
    }
  }
  for (const ParsedObject& child : Obj.Children) {
    TComponent* c = nullptr;
    try {
      c = child.Class->Create(&C);
    } catch (const std::exception& e) {
      throw EFormError(child.Line, "cannot create " + child.Class->ClassName + ": " + e.what());
    }
    if (c == nullptr) throw EFormError(child.Line, "cannot create " + child.Class->ClassName);
    // Owned by C from here on: freeing C frees it when anything below fails.
    if (c->Owner() != &C) C.InsertComponent(c);
    Apply(*c, child, Methods);
  }
}

}  // namespace

TComponent* TextToComponent(const String& Text, TComponent* Owner, const TFormMethods* Methods) {
  // Everything is checked before anything is created.
  const ParsedObject root = Parser(Lexer(Text).All(), Owner).Parse();
  TComponent* c = nullptr;
  try {
    c = root.Class->Create(Owner);
  } catch (const std::exception& e) {
    throw EFormError(root.Line, "cannot create " + root.Class->ClassName + ": " + e.what());
  }
  if (c == nullptr) throw EFormError(root.Line, "cannot create " + root.Class->ClassName);
  try {
    Apply(*c, root, Methods);
  } catch (...) {
    delete c;  // takes its owned children with it and leaves the owner
    throw;
  }
  return c;
}

TComponent* ReadComponentFile(const String& FileName, TComponent* Owner, const TFormMethods* Methods) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_directory(fs::path(FileName), ec))
    throw Exception("cannot read form file " + FileName + ": it is a directory");
  std::ifstream f(fs::path(FileName), std::ios::binary);
  if (!f) throw Exception("cannot read form file " + FileName + ": cannot open it");
  const std::uintmax_t size = fs::file_size(fs::path(FileName), ec);
  if (!ec && size > kMaxFormFile) throw Exception("cannot read form file " + FileName + ": it is too large for a form");
  std::ostringstream buf;
  buf << f.rdbuf();
  if (f.bad()) throw Exception("cannot read form file " + FileName + ": read failed");
  return TextToComponent(buf.str(), Owner, Methods);
}
