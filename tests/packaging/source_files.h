// Files of the source tree that the packaging tests read: the installed desktop files and the sources
// they must agree with.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace calvora::test {

inline std::string SourcePath(const std::string& relative) {
    return std::string(CALVORA_SOURCE_DIR) + "/" + relative;
}

// The whole file; an empty string and a test failure when it cannot be read.
inline std::string ReadSourceFile(const std::string& relative) {
    std::ifstream in(SourcePath(relative), std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << SourcePath(relative);
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace calvora::test
