#include "app/help_path.h"

namespace calvora {

std::u16string HelpFilePath(const std::u16string& programPath) {
    const size_t slash = programPath.find_last_of(u'/');
    if (slash == std::u16string::npos) {
        return kHelpFileName;
    }
    // The directory is what precedes the last '/'; only a program in "/" leaves it empty.
    std::u16string directory = programPath.substr(0, slash);
    if (directory.empty() || directory.back() != u'/') {
        directory += u'/';
    }
    return directory + kHelpFileName;
}

std::u16string InstalledHelpFilePath(const std::u16string& programPath) {
    const size_t slash = programPath.find_last_of(u'/');
    const std::u16string directory = slash == std::u16string::npos ? u"." : programPath.substr(0, slash);
    return directory + u"/../share/doc/calvora/" + kHelpFileName;
}

} // namespace calvora
