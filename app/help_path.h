// Where the Help command looks for the manual: in the installed documentation folder, else beside the
// program (a build tree copies it there).
#pragma once

#include <string>

namespace calvora {

// The manual's file name as the Linux build ships it.
inline constexpr char16_t kHelpFileName[] = u"calvora-help.html";

// Cuts `programPath` at its last '/' and appends the help file name, with exactly one '/' between (a program
// in "/" gives "/calvora-help.html"). A path without '/' gives the bare file name.
std::u16string HelpFilePath(const std::u16string& programPath);

// <program folder>/../share/doc/calvora/<help file>: where an installed program's manual lies, for /usr and
// /usr/local alike.
std::u16string InstalledHelpFilePath(const std::u16string& programPath);

} // namespace calvora
