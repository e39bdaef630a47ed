// The record helpers the edge's files share: the A or W form of each record
// by character type, bounded field copies, text arguments, dwSize reads.
#pragma once

#include <cstring>
#include <iterator>
#include <string>

#include "Ras2/RasConnPhonebook.h"
#include "Ras2/RasContract.h"
#include "RasSim/common/Text.h"
#include "RasSim/edge/Backend.h"

namespace rassim::edge {

// The W forms of the records, picked by character type.
template <class Ch>
struct Rec;
template <>
struct Rec<char> {
  using Conn = TRasConnA;
  using ConnPb = TRasConnPbA;
  using Status = TRasConnStatusA;
  using Params = TRasDialParamsA;
  using Name = TRasEntryNameA;
  using Entry = TRasEntryA;
  using Dev = TRasDevInfoA;
  using Ip = TRasPppIpA;
};
template <>
struct Rec<WCHAR> {
  using Conn = TRasConnW;
  using ConnPb = TRasConnPbW;
  using Status = TRasConnStatusW;
  using Params = TRasDialParamsW;
  using Name = TRasEntryNameW;
  using Entry = TRasEntryW;
  using Dev = TRasDevInfoW;
  using Ip = TRasPppIpW;
};

// `Text`: std::string, or SecretString for a password.
template <class Field, class Text>
bool Get(const Field& f, Text& out) {
  return ReadField(f, std::size(f), out);
}
template <class Field>
void Put(Field& f, const std::string& text) {
  WriteField(f, std::size(f), text);
}
template <class Field>
void Put(Field& f, const SecretString& text) {
  WriteSecretField(f, std::size(f), text);
}

// A text argument: null stays null; false when a wide text is not valid UTF-16.
template <class Ch>
bool Arg(const Ch* s, PbArg& pb) {
  pb.isNull = s == nullptr;
  pb.text.clear();
  return !s || ReadArg(s, pb.text);
}
template <class Ch>
bool Text(const Ch* s, std::string& out) {
  out.clear();
  return s && ReadArg(s, out);
}

// dwSize of a caller's record, read without assuming alignment.
inline DWORD SizeField(const void* rec) {
  DWORD v;
  std::memcpy(&v, rec, sizeof v);
  return v;
}

template <class P>
bool ReadParams(const P& p, DialParams& d) {
  return Get(p.szEntryName, d.entry) && Get(p.szPhoneNumber, d.phone) && Get(p.szCallbackNumber, d.callback) &&
         Get(p.szUserName, d.user) && Get(p.szPassword, d.password) && Get(p.szDomain, d.domain);
}

template <class Ch>
size_t Units(const std::string& s) {
  if constexpr (sizeof(Ch) == 1)
    return s.size();
  else
    return Utf16Length(s);
}

}  // namespace rassim::edge
