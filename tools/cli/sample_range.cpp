#include "tools/cli/sample_range.h"

#include "protocol/text.h"

#include <charconv>
#include <tuple>

namespace calvora::cli {

void SampleRangeOptions::AddTo(CLI::App& sub) {
    fromOption_ = sub.add_option("--from", from_,
                                 "First sample, from 1 (default 1); of a continuous log, an ISO 8601 time");
    toOption_ = sub.add_option("--to", to_,
                               "Last sample, inclusive (default the last one); of a log, an ISO 8601 time");
    AddMeterOption(sub, meter_);
}

bool SampleRangeOptions::given() const {
    return fromOption_->count() > 0 || toOption_->count() > 0;
}

Outcome<SampleNumbers> SampleRangeOptions::Resolve(uint64_t sampleCount) const {
    if (!given())
        return SampleNumbers{1, sampleCount};
    const int64_t count = static_cast<int64_t>(std::min<uint64_t>(sampleCount, INT64_MAX));
    int64_t first = 1;
    int64_t last = count;
    for (auto [option, text, number] :
         {std::tuple{fromOption_, &from_, &first}, std::tuple{toOption_, &to_, &last}}) {
        if (option->count() == 0)
            continue;
        const char* end = text->data() + text->size();
        if (const auto [at, error] = std::from_chars(text->data(), end, *number);
            error != std::errc() || at != end)
            return Failure(fromUtf8(option->get_name() + " " + *text + " is no sample number"));
    }
    const std::string counted =
        " (the file holds " + std::to_string(sampleCount) + (sampleCount == 1 ? " sample)" : " samples)");
    if (first < 1)
        return Failure(fromUtf8("--from " + std::to_string(first) + " is below 1"));
    if (last > count)
        return Failure(fromUtf8("--to " + std::to_string(last) + " is past the last sample" + counted));
    if (first > last && toOption_->count() > 0)
        return Failure(
            fromUtf8("--from " + std::to_string(first) + " is after --to " + std::to_string(last)));
    if (first > last)
        return Failure(fromUtf8("--from " + std::to_string(first) + " is past the last sample" + counted));
    return SampleNumbers{static_cast<uint64_t>(first), static_cast<uint64_t>(last)};
}

} // namespace calvora::cli
