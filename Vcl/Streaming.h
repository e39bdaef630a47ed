// Form streaming: a component and its published properties as the
// framework's text form, and back.
//
//     object Quor1: TQuor
//       EntryName = 'Office'
//       RedialAttempts = 3
//       OnNotify = Form1QuorNotify
//     end
//
// Writing walks the class information (inherited properties first, in
// declaration order) and never knows a property by hand. A property that
// holds its declared default is left out; a property without a declared
// default is always written, even when it is empty or zero. Strings are
// quoted with '' for a quote; bytes outside printable ASCII are written as
// #NNN ('abc'#233'def'). Owned components that have a name are written as
// nested objects; unnamed owned components are the owner's internal parts
// (a component's own timers, say) and are not written.
//
// Method properties (event handlers) are written by handler name. The name
// comes from a TFormMethods map when one is given, otherwise from the
// property's getter (TPropValue::Str); a handler without a name (or with a
// getter's marker that is not a name, such as "(assigned)") is left out.
// Reading a handler name binds it through the map when one is given
// (unknown names are errors), otherwise it is handed to the property's
// setter as a Method value.
//
// Reading parses and checks the whole text first (syntax, class names,
// property names, value types and ranges) and only then creates anything.
// Every error is an EFormError whose message starts with "line N: "; when
// reading fails nothing is created and the owner is left as it was.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "Vcl/Vcl.h"

// An error in a form text, with the line it was found on (1-based).
class VCL_API EFormError : public Exception {
 public:
  EFormError(int Line, const String& Msg);
  int Line() const { return fLine; }

 private:
  int fLine;
};

// How a form names the handlers of method properties.
struct TFormMethods {
  // Writing: the handler name of Prop on Component, "" when none is assigned.
  std::function<String(const TComponent& Component, const TPropInfo& Prop)> NameOf;
  // Reading: hooks the named handler up to Prop on Component; false when no
  // handler of that name exists.
  std::function<bool(TComponent& Component, const TPropInfo& Prop, const String& Handler)> Bind;
};

// A ready-made handler map for hosts without code behind their forms (the
// designer): it remembers the handler names a form gave, keyed by component
// name and property name (case-insensitive), and writes them out again.
class VCL_API TMethodNameMap {
 public:
  void SetName(const String& Component, const String& Prop, const String& Handler);
  String NameOf(const String& Component, const String& Prop) const;  // "" if none
  void Clear() { fNames.clear(); }
  size_t Count() const { return fNames.size(); }
  // A TFormMethods view of this map; the map must outlive its use.
  TFormMethods Methods();

 private:
  std::map<String, String> fNames;
};

// The published properties of a class, inherited ones first, each in
// declaration order. A property redeclared by a descendant keeps its
// ancestor's position and takes the descendant's information.
VCL_API std::vector<const TPropInfo*> PublishedProperties(TComponentClass Class);
// The published property of that name (ASCII case-insensitive), or nullptr.
VCL_API const TPropInfo* FindPublishedProperty(TComponentClass Class, const String& Name);

// True when S is a valid component, property or handler name.
VCL_API bool IsValidIdent(const String& S);

// Text of one value as a form writes it: 'text'#233, True, -5, Handler.
VCL_API String FormatPropValue(const TPropValue& Value);
// Quotes S as a form string: '' for empty, ' doubled, #NNN for other bytes.
VCL_API String QuoteFormString(const String& S);
// A value for Prop from plain, unquoted text ("Office", "True", "-5"), as a
// command line or an inspector gives it. Throws Exception when the text is
// not a value of the property's type or is out of its range.
VCL_API TPropValue PropValueFromText(const TPropInfo& Prop, const String& Text);

// Writes Component (and its named owned components) as form text.
VCL_API String ComponentToText(const TComponent& Component, const TFormMethods* Methods = nullptr);
// Creates the component a form text describes, owned by Owner (may be null).
// Throws EFormError; on error nothing is created.
VCL_API TComponent* TextToComponent(const String& Text, TComponent* Owner = nullptr,
                                    const TFormMethods* Methods = nullptr);

// Saves the form text to FileName atomically: the text goes to a temporary
// file beside it that then replaces FileName, so FileName holds either the
// old or the new form, never a part. Throws Exception on failure.
VCL_API void WriteComponentFile(const String& FileName, const TComponent& Component,
                                const TFormMethods* Methods = nullptr);
// Reads a form file (see TextToComponent). Throws Exception when the file
// cannot be read, EFormError when its text is malformed.
VCL_API TComponent* ReadComponentFile(const String& FileName, TComponent* Owner = nullptr,
                                      const TFormMethods* Methods = nullptr);
