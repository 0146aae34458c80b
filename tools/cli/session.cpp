#include "tools/cli/session.h"

namespace calvora::cli {

std::atomic<bool> interrupted{false};

void OnInterrupt(int) {
    interrupted = true;
}

} // namespace calvora::cli
