#include "logging/gui/open_log_window.h"

#include "logging/gui/log_window.h"
#include "logging/log_loader.h"

#include <QString>

namespace calvora {

Outcome<LogWindow*> OpenLogWindow(const std::filesystem::path& path, QWidget* parent) {
    auto loader = LogLoader::Open(path);
    if (!loader)
        return loader.failure();
    const QString absolute = QString::fromStdU16String(std::filesystem::absolute(path).u16string());
    return new LogWindow(std::move(loader).value(), absolute, parent);
}

} // namespace calvora
