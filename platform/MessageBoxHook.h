// MessageBoxA on this platform hands the box to a replaceable handler: the application installs
// one that shows a real dialog; without one the text goes to standard error and the answer is
// IDOK.
#pragma once

#include <functional>

using MessageBoxHandler = std::function<int(const char* text, const char* caption, unsigned type)>;

// Installs `handler` (an empty one restores the default) and returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
