// File and folder names in the system's 8-bit code page: trailing delimiters and folder parts.
//
// Double-byte code pages are respected: a backslash that is the second byte of a double-byte
// character is not a delimiter. Pure functions: safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

// The delimiter of folder names on this platform ('\' on Windows, '/' elsewhere).
#ifdef _WIN32
inline constexpr char kPathDelim = '\\';
#else
inline constexpr char kPathDelim = '/';
#endif

// True when `c` is the first byte of a double-byte character in the system code page.
bool IsAnsiLeadByte(unsigned char c);

// Tells the lead bytes of a code page; the functions below take the system's by default.
using LeadByteTest = bool (*)(unsigned char);

// True when the last byte of `text` is the second byte of a double-byte character.
bool EndsInTrailByte(std::string_view text, LeadByteTest isLead = IsAnsiLeadByte);

// `text` with a backslash appended unless its last character is one; "" gives "\".
std::string WithBackslash(std::string_view text, LeadByteTest isLead = IsAnsiLeadByte);

// `text` with kPathDelim appended unless its last character is one (WithBackslash on Windows).
std::string WithPathDelim(std::string_view text);

// The folder part of a file name, up to and including the last delimiter ('\' or ':' on
// Windows, '/' elsewhere); empty when there is none. A root folder keeps its backslash.
std::string FileFolder(std::string_view fileName, LeadByteTest isLead = IsAnsiLeadByte);

}  // namespace kiv
