// Opening a log file in a window of its own.
#pragma once

#include "protocol/outcome.h"

#include <filesystem>

class QWidget;

namespace calvora {

class LogWindow;

// Reads the log's overview and makes its window, which loads the readings and follows the file while
// another program writes it. Fails, with the reason the user reads, when it is no log or cannot be read.
Outcome<LogWindow*> OpenLogWindow(const std::filesystem::path& path, QWidget* parent = nullptr);

} // namespace calvora
