// The name a receiver goes by where other programs meet it (a broker's topics).
#pragma once

#include "app/meter_engine.h"

#include <string>
#include <string_view>

namespace calvora {

// Every receiver is "Multimeter" until receivers can be named.
inline std::u16string MeterName(std::string_view /*devicePath*/) {
    return std::u16string(kMultimeterLabel);
}

} // namespace calvora
