// Code pages and casing through the system: MultiByteToWideChar, CharLowerBuff, CompareString.
#include <windows.h>

#include <climits>

#include "platform/code_page.h"

namespace kiv {
namespace {

int CheckedLength(size_t size) {
  if (size > static_cast<size_t>(INT_MAX)) throw ECodePageError("Text too long to convert");
  return static_cast<int>(size);
}

[[noreturn]] void ThrowConversionFailed(unsigned codePage) {
  throw ECodePageError("Code page " + std::to_string(codePage) + " is not available");
}

}  // namespace

WideString CodePageToWide(unsigned codePage, std::string_view text) {
  if (text.empty()) {
    if (codePage != CP_ACP && !IsValidCodePage(codePage)) ThrowConversionFailed(codePage);
    return {};
  }
  int inLen = CheckedLength(text.size());
  int n = MultiByteToWideChar(codePage, 0, text.data(), inLen, nullptr, 0);
  if (n <= 0) ThrowConversionFailed(codePage);
  WideString out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(codePage, 0, text.data(), inLen, reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

std::string WideToCodePage(unsigned codePage, std::u16string_view text) {
  if (text.empty()) {
    if (codePage != CP_ACP && !IsValidCodePage(codePage)) ThrowConversionFailed(codePage);
    return {};
  }
  int inLen = CheckedLength(text.size());
  auto src = reinterpret_cast<const wchar_t*>(text.data());
  int n = WideCharToMultiByte(codePage, 0, src, inLen, nullptr, 0, nullptr, nullptr);
  if (n <= 0) ThrowConversionFailed(codePage);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, src, inLen, out.data(), n, nullptr, nullptr);
  return out;
}

WideString AnsiToWide(std::string_view text) { return CodePageToWide(CP_ACP, text); }
std::string WideToAnsi(std::u16string_view text) { return WideToCodePage(CP_ACP, text); }

std::string AnsiLowerCase(std::string_view text) {
  std::string out(text);
  if (!out.empty()) CharLowerBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

std::string AnsiUpperCase(std::string_view text) {
  std::string out(text);
  if (!out.empty()) CharUpperBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

WideString WideLowerCase(std::u16string_view text) {
  WideString out(text);
  if (!out.empty()) CharLowerBuffW(reinterpret_cast<wchar_t*>(out.data()), static_cast<DWORD>(out.size()));
  return out;
}

WideString WideUpperCase(std::u16string_view text) {
  WideString out(text);
  if (!out.empty()) CharUpperBuffW(reinterpret_cast<wchar_t*>(out.data()), static_cast<DWORD>(out.size()));
  return out;
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  int r = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), CheckedLength(a.size()),
                         b.data(), CheckedLength(b.size()));
  if (r != 0) return r - CSTR_EQUAL;
  std::string la = AnsiLowerCase(a), lb = AnsiLowerCase(b);  // only on failure of the system call
  return la.compare(lb) < 0 ? -1 : la.compare(lb) > 0 ? 1 : 0;
}

}  // namespace kiv
