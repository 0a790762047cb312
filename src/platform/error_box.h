// The one place where the module shows an error message box.
//
// Production code calls ShowErrorBox; tests replace the handler with SetErrorBoxHandler so
// that nothing ever blocks on a dialog. Thread-safe: the handler is swapped atomically.
#pragma once

#include <string>

namespace kiv {

using ErrorBoxHandler = void (*)(const std::string& title, const std::string& text);

// Shows `text` with `title` through the current handler (a system message box by default on
// Windows, standard error elsewhere).
void ShowErrorBox(const std::string& title, const std::string& text);

// Replaces the handler; nullptr restores the default. Returns the previous handler.
ErrorBoxHandler SetErrorBoxHandler(ErrorBoxHandler handler);

}  // namespace kiv
