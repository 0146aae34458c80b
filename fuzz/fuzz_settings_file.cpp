#include "fuzz/settings_file_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!calvora::fuzz::SettingsFileInputHolds(data, size))
        __builtin_trap();
    return 0;
}
