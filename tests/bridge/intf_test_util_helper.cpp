#include "bridge/intf_test_util.h"

namespace kiv::test {
namespace {

std::vector<std::string>& Captured() {
  static std::vector<std::string> messages;
  return messages;
}

void Record(const std::string& title, const std::string& text) {
  Captured().push_back(title.empty() ? text : title + ": " + text);
}

}  // namespace

std::string Narrow(const kivWCHAR* text) {
  if (!text) return "<null>";
  std::string s;
  while (*text) s.push_back(static_cast<char>(*text++));
  return s;
}

std::string TextOf(const kivVARIANT& v) {
  if (v.vt != KIV_VT_BSTR) return "<vt " + std::to_string(v.vt) + ">";
  return v.bstrVal ? Narrow(v.bstrVal) : std::string();
}

ErrorBoxCapture::ErrorBoxCapture() : previous_(SetErrorBoxHandler(&Record)) { Captured().clear(); }
ErrorBoxCapture::~ErrorBoxCapture() { SetErrorBoxHandler(previous_); }
const std::vector<std::string>& ErrorBoxCapture::Messages() const { return Captured(); }

}  // namespace kiv::test
