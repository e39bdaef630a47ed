// Form streaming: writing the text form of components, and the text of
// property values (the reading half is StreamingRead.cpp).
#include "Vcl/Streaming.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <system_error>

#include "Vcl/StreamingSupport.h"

namespace vcl_streaming {

String KindName(TTypeKind Kind) {
  switch (Kind) {
    case TTypeKind::Boolean:
      return "Boolean";
    case TTypeKind::Integer:
      return "Integer";
    case TTypeKind::Byte:
      return "Byte";
    case TTypeKind::String:
      return "String";
    case TTypeKind::Method:
      return "Method";
  }
  return "unknown";
}

String OrdinalError(const TPropInfo& Prop, const Number& N, int64_t& Out) {
  // Built in two steps: GCC 12's -Wrestrict misreads the one-expression form
  // in optimised builds (a false "memcpy may overlap" that -Werror turns into
  // a failed release build).
  String shown = N.Negative ? "-" : "";
  shown += N.Overflow ? String("(too many digits)") : std::to_string(N.Magnitude);
  int64_t lo = 0, hi = 0;
  if (Prop.Kind == TTypeKind::Integer) {
    lo = std::numeric_limits<int32_t>::min();
    hi = std::numeric_limits<int32_t>::max();
  } else if (Prop.Kind == TTypeKind::Byte) {
    lo = 0;
    hi = 255;
  } else {
    return Prop.Name + " expects " +
           (Prop.Kind == TTypeKind::Boolean ? String("True or False") : "a " + KindName(Prop.Kind) + " value") +
           ", not the number " + shown;
  }
  const String range =
      " is out of range for " + KindName(Prop.Kind) + " (" + std::to_string(lo) + ".." + std::to_string(hi) + ")";
  if (N.Overflow) return "value " + shown + range;
  const uint64_t limit = N.Negative ? static_cast<uint64_t>(-lo) : static_cast<uint64_t>(hi);
  if (N.Magnitude > limit) return "value " + shown + range;
  Out = N.Negative ? -static_cast<int64_t>(N.Magnitude) : static_cast<int64_t>(N.Magnitude);
  return "";
}

}  // namespace vcl_streaming

using namespace vcl_streaming;

namespace {

// ---------------------------------------------------------------- writing
void WriteObject(std::ostringstream& Out, const TComponent& C, const TFormMethods* Methods, int Depth) {
  if (Depth >= kMaxDepth) throw Exception("components are nested too deeply to be written");
  const TComponentClass cls = C.ClassInfo();
  if (cls == nullptr || !IsValidIdent(cls->ClassName))
    throw Exception("a component without a valid class name cannot be written");
  if (!C.Name().empty() && !IsValidIdent(C.Name()))
    throw Exception("component name '" + C.Name() + "' is not a valid name");
  const String indent(static_cast<size_t>(Depth) * 2, ' ');
  Out << indent << "object ";
  if (!C.Name().empty()) Out << C.Name() << ": ";
  Out << cls->ClassName << "\n";
  for (const TPropInfo* p : PublishedProperties(cls)) {
    if (!p->Get) continue;  // nothing to store
    if (p->Kind == TTypeKind::Method) {
      String handler;
      if (Methods != nullptr && Methods->NameOf) {
        handler = Methods->NameOf(C, *p);
        if (!handler.empty() && !IsValidIdent(handler))
          throw Exception("handler name '" + handler + "' of " + p->Name + " is not a valid name");
      } else {
        // A component whose handlers have no names shows some marker for an
        // assigned one; what is not a name could never be read back.
        handler = p->Get(C).Str;
        if (!IsValidIdent(handler)) handler.clear();
      }
      if (handler.empty()) continue;  // no (named) handler assigned
      Out << indent << "  " << p->Name << " = " << handler << "\n";
      continue;
    }
    TPropValue v = p->Get(C);
    v.Kind = p->Kind;
    if (p->Kind != TTypeKind::String && p->Default.has_value()) {
      const int64_t ord = p->Kind == TTypeKind::Boolean ? (v.Ord != 0 ? 1 : 0) : v.Ord;
      if (ord == *p->Default) continue;  // holds its declared default
    }
    Out << indent << "  " << p->Name << " = " << FormatPropValue(v) << "\n";
  }
  for (int i = 0; i < C.ComponentCount(); ++i) {
    const TComponent* child = C.Components(i);
    if (child != nullptr && !child->Name().empty()) WriteObject(Out, *child, Methods, Depth + 1);
  }
  Out << indent << "end\n";
}

}  // namespace

// ---------------------------------------------------------------- public
EFormError::EFormError(int Line, const String& Msg)
    : Exception("line " + std::to_string(Line) + ": " + Msg), fLine(Line) {}

void TMethodNameMap::SetName(const String& Component, const String& Prop, const String& Handler) {
  const String key = LowerCase(Component) + "." + LowerCase(Prop);
  if (Handler.empty())
    fNames.erase(key);
  else
    fNames[key] = Handler;
}

String TMethodNameMap::NameOf(const String& Component, const String& Prop) const {
  auto it = fNames.find(LowerCase(Component) + "." + LowerCase(Prop));
  return it == fNames.end() ? String() : it->second;
}

TFormMethods TMethodNameMap::Methods() {
  TFormMethods m;
  m.NameOf = [this](const TComponent& C, const TPropInfo& P) { return NameOf(C.Name(), P.Name); };
  m.Bind = [this](TComponent& C, const TPropInfo& P, const String& Handler) {
    // Without code behind the form a handler cannot be checked; a component
    // without a name could never be written back with it.
    if (C.Name().empty()) return false;
    SetName(C.Name(), P.Name, Handler);
    return true;
  };
  return m;
}

std::vector<const TPropInfo*> PublishedProperties(TComponentClass Class) {
  std::vector<TComponentClass> chain;
  for (TComponentClass c = Class; c != nullptr; c = c->Parent) {
    if (chain.size() > 64) throw Exception("class " + Class->ClassName + " has a cyclic parent chain");
    chain.push_back(c);
  }
  std::vector<const TPropInfo*> props;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    for (const TPropInfo& p : (*it)->Properties) {
      bool replaced = false;
      for (const TPropInfo*& q : props) {
        if (SameText(q->Name, p.Name)) {
          q = &p;
          replaced = true;
          break;
        }
      }
      if (!replaced) props.push_back(&p);
    }
  }
  return props;
}

const TPropInfo* FindPublishedProperty(TComponentClass Class, const String& Name) {
  for (const TPropInfo* p : PublishedProperties(Class)) {
    if (SameText(p->Name, Name)) return p;
  }
  return nullptr;
}

bool IsValidIdent(const String& S) {
  if (S.empty() || !IsIdentStart(static_cast<unsigned char>(S[0]))) return false;
  for (char c : S) {
    if (!IsIdentChar(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

String QuoteFormString(const String& S) {
  if (S.empty()) return "''";
  String r;
  bool quoted = false;
  for (char ch : S) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 32 && c < 127) {
      if (!quoted) {
        r += '\'';
        quoted = true;
      }
      if (c == '\'')
        r += "''";
      else
        r += ch;
    } else {
      if (quoted) {
        r += '\'';
        quoted = false;
      }
      r += '#';
      r += std::to_string(c);
    }
  }
  if (quoted) r += '\'';
  return r;
}

String FormatPropValue(const TPropValue& Value) {
  switch (Value.Kind) {
    case TTypeKind::Boolean:
      return Value.Ord != 0 ? "True" : "False";
    case TTypeKind::Integer:
    case TTypeKind::Byte:
      return std::to_string(Value.Ord);
    case TTypeKind::String:
      return QuoteFormString(Value.Str);
    case TTypeKind::Method:
      return Value.Str;
  }
  return "";
}

TPropValue PropValueFromText(const TPropInfo& Prop, const String& Text) {
  TPropValue v;
  v.Kind = Prop.Kind;
  switch (Prop.Kind) {
    case TTypeKind::String:
      v.Str = Text;
      return v;
    case TTypeKind::Boolean:
      if (SameText(Text, "True"))
        v.Ord = 1;
      else if (SameText(Text, "False"))
        v.Ord = 0;
      else
        throw Exception(Prop.Name + " expects True or False, not '" + Text + "'");
      return v;
    case TTypeKind::Method:
      if (!IsValidIdent(Text)) throw Exception(Prop.Name + " expects a handler name, not '" + Text + "'");
      v.Str = Text;
      return v;
    case TTypeKind::Integer:
    case TTypeKind::Byte: {
      Number n;
      size_t i = 0;
      if (i < Text.size() && (Text[i] == '-' || Text[i] == '+')) n.Negative = Text[i++] == '-';
      if (i >= Text.size()) throw Exception(Prop.Name + " expects a number, not '" + Text + "'");
      for (; i < Text.size(); ++i) {
        if (!IsDigit(static_cast<unsigned char>(Text[i])))
          throw Exception(Prop.Name + " expects a number, not '" + Text + "'");
        const uint64_t d = static_cast<uint64_t>(Text[i] - '0');
        if (n.Magnitude > (std::numeric_limits<uint64_t>::max() - d) / 10) n.Overflow = true;
        if (!n.Overflow) n.Magnitude = n.Magnitude * 10 + d;
      }
      const String err = OrdinalError(Prop, n, v.Ord);
      if (!err.empty()) throw Exception(err);
      return v;
    }
  }
  throw Exception("property " + Prop.Name + " has an unknown type");
}

String ComponentToText(const TComponent& Component, const TFormMethods* Methods) {
  std::ostringstream out;
  WriteObject(out, Component, Methods, 0);
  return out.str();
}

void WriteComponentFile(const String& FileName, const TComponent& Component, const TFormMethods* Methods) {
  namespace fs = std::filesystem;
  // The whole text first: a component that cannot be written leaves the file alone.
  const String text = ComponentToText(Component, Methods);
  static std::atomic<unsigned> counter{0};
  const fs::path target(FileName);
  fs::path temp = target;
  temp += ".~" + std::to_string(GetCurrentProcessId()) + "." + std::to_string(counter++);
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    if (!f) throw Exception("cannot write form file " + FileName + ": cannot create " + temp.string());
    f.write(text.data(), static_cast<std::streamsize>(text.size()));
    f.flush();
    if (!f) {
      f.close();
      std::error_code ignore;
      fs::remove(temp, ignore);
      throw Exception("cannot write form file " + FileName + ": write failed");
    }
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) {
    std::error_code ignore;
    fs::remove(temp, ignore);
    throw Exception("cannot write form file " + FileName + ": " + ec.message());
  }
}
