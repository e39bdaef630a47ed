// Text helpers of the simulated RAS service: bounded copies into and out of
// the fixed text fields of RAS records, UTF-8/UTF-16 conversion at the wide
// edge, and the case folding used to compare entry names.
//
// Inside the service every text is 8-bit (the ANSI interface's bytes, which
// are UTF-8 on Linux); the W exports convert at their edge.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "RasSim/common/Secret.h"
#include "Win32/Win32.h"

namespace rassim {

// Reads a zero-terminated text from a field of `width` characters. False when
// the field holds no terminating zero (the text would run past the field).
bool ReadField(const char* field, size_t width, std::string& out);
bool ReadField(const WCHAR* field, size_t width, std::string& out);
bool ReadField(const char* field, size_t width, SecretString& out);
bool ReadField(const WCHAR* field, size_t width, SecretString& out);
// Reads a zero-terminated text argument of unknown length (null => false).
bool ReadArg(const char* s, std::string& out);
bool ReadArg(const WCHAR* s, std::string& out);

// Writes text and its zero into a field of `width` characters. A text that
// does not fit is cut at a character boundary (never overrunning the field)
// and false is returned.
bool WriteField(char* field, size_t width, const std::string& text);
bool WriteField(WCHAR* field, size_t width, const std::string& text);
bool WriteSecretField(char* field, size_t width, const SecretString& text);
bool WriteSecretField(WCHAR* field, size_t width, const SecretString& text);

// UTF-16 -> UTF-8; false for an unpaired surrogate.
bool Utf16ToUtf8(const std::u16string& in, std::string& out);
// UTF-8 -> UTF-16; malformed bytes become U+FFFD.
std::u16string Utf8ToUtf16(const std::string& in);
// Length in UTF-16 units of a UTF-8 text.
size_t Utf16Length(const std::string& utf8);

// Case folding for entry names: ASCII, Latin-1, Greek and Cyrillic capitals
// fold to small letters; everything else compares as it is.
std::string FoldCase(const std::string& utf8);
bool SameName(const std::string& a, const std::string& b);
// Windows' rules for a new entry name (RasValidateEntryName): 1 to 256
// bytes, at least one letter or digit, none of | > < ? * \ / :, no period
// first; and, since two such names could not be told apart when listed, no
// control character (C0, DEL, C1) and no blank at either end.
bool ValidEntryName(const std::string& name);

std::string Trim(const std::string& s);
std::string ToLowerAscii(std::string s);
// Decimal or 0x-hex unsigned number; false when the text is not one.
bool ParseUInt(const std::string& s, uint64_t& value);

}  // namespace rassim
