#include "platform/error_box.h"

#include <atomic>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kiv {
namespace {

void DefaultErrorBox(const std::string& title, const std::string& text) {
#ifdef _WIN32
  MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR | MB_TASKMODAL);
#else
  std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
#endif
}

std::atomic<ErrorBoxHandler> g_handler{nullptr};

}  // namespace

void ShowErrorBox(const std::string& title, const std::string& text) {
  ErrorBoxHandler h = g_handler.load();
  (h ? h : DefaultErrorBox)(title, text);
}

ErrorBoxHandler SetErrorBoxHandler(ErrorBoxHandler handler) { return g_handler.exchange(handler); }

}  // namespace kiv
