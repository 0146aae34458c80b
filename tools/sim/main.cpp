// calvora-sim: a receiver with a meter behind it, on a pseudo-terminal, for trying the program and
// for end-to-end tests without hardware.
#include "protocol/text.h"
#include "tools/sim/simulator.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>

int main(int argc, char** argv) {
    using namespace calvora::sim;
    SimOptions options;
    int function = options.reading.function;
    int submode = options.reading.submode;
    int range = options.reading.range;
    std::string scriptPath;
    std::string recordsPath;
    size_t logAtStart = 0;

    CLI::App app{
        "Meter simulator: opens a pseudo-terminal, prints its device path on stdout and behaves like "
        "the wireless receiver with a meter behind it (live readings, pair acknowledgement, stored-log "
        "bursts).\nWhile running, a line 'log N' on stdin (or SIGUSR1, for the default count) sends a "
        "stored-log burst; 'quit' or SIGINT/SIGTERM ends it. On SIGUSR2 and on exit it reports on stderr "
        "how many live frames and stored-log records it has sent.",
        "calvora-sim"};
    app.add_option("--rate", options.rate, "Live readings per second")
        ->check(CLI::Range(0.01, 10000.0))
        ->capture_default_str();
    app.add_option("--function", function,
                   "Function code 0-15 (1 = VDC, 0 = VAC, 3 = resistance, 4 = temperature)")
        ->check(CLI::Range(0, 15))
        ->capture_default_str();
    app.add_option("--submode", submode, "Sub-mode 0-3")->check(CLI::Range(0, 3))->capture_default_str();
    app.add_option("--range", range, "Range index 0-7")->check(CLI::Range(0, 7))->capture_default_str();
    app.add_flag("--ac-dc", options.reading.acPlusDc, "Set the AC+DC bit of the range byte");
    app.add_flag("--hold", options.reading.hold, "Set the HOLD bit of the status byte");
    app.add_flag("--peak", options.reading.peak, "Set the PEAK bit of the status byte");
    app.add_flag("--manual", options.reading.manualRange, "Set the manual-range bit (no AUTO)");
    const std::map<std::string, Waveform> shapes{{"constant", Waveform::Constant},
                                                 {"ramp", Waveform::Ramp},
                                                 {"sine", Waveform::Sine},
                                                 {"noise", Waveform::Noise}};
    std::string shape = "constant";
    app.add_option("--waveform", shape, "Reading values: constant, ramp, sine or noise")
        ->check(CLI::IsMember({"constant", "ramp", "sine", "noise"}))
        ->capture_default_str();
    app.add_option("--amplitude", options.wave.amplitude, "Wave amplitude in counts")->capture_default_str();
    app.add_option("--offset", options.wave.offset,
                   "Wave centre (the constant value) in counts; negative "
                   "values set the sign bit")
        ->capture_default_str();
    app.add_option("--period", options.wave.period, "Readings per ramp or sine cycle")
        ->check(CLI::Range(1, 1000000))
        ->capture_default_str();
    app.add_option("--script", scriptPath,
                   "File of frames, one line of hex bytes each, sent in a loop instead "
                   "of generated readings")
        ->check(CLI::ExistingFile)
        ->type_name("FILE");
    app.add_option("--records", recordsPath,
                   "File of stored records (hex, 4 bytes each) used in a loop for "
                   "stored-log bursts instead of generated ones")
        ->check(CLI::ExistingFile)
        ->type_name("FILE");
    auto* logOption = app.add_option("--log", logAtStart,
                                     "Send a stored-log burst of N records at start; N is "
                                     "also the count for SIGUSR1 and a bare 'log' (25 "
                                     "otherwise)")
                          ->check(CLI::Range(0, 65535))
                          ->type_name("N");
    app.add_option("--burst-gap", options.burstGapMs, "Milliseconds between the frames of a stored-log burst")
        ->check(CLI::Range(0, 10000))
        ->capture_default_str();
    app.add_option("--garbage", options.faults.garbage, "Chance per frame of junk bytes in front of it")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--split", options.faults.split, "Chance per frame of being written in two pieces")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--drop", options.faults.drop, "Chance per byte of being lost")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--seed", options.seed, "Seed of the fault and noise generator")->capture_default_str();
    app.add_flag("--ignore-pair", options.ignorePair, "Do not acknowledge pair requests");
    app.add_option("--unplug-after", options.unplugAfterSeconds,
                   "Close the device after S seconds, like a receiver pulled out, and exit")
        ->check(CLI::Range(0.0, 1e6));
    app.add_option("--replug-after", options.replugAfterSeconds,
                   "With --unplug-after: plug the receiver in again S seconds later, behind the same --link "
                   "path, and go on")
        ->check(CLI::Range(0.0, 1e6));
    app.add_option("--pause-after", options.pauseAfterSeconds,
                   "Stop the meter's readings S seconds after the start (the receiver stays)")
        ->check(CLI::Range(0.0, 1e6));
    app.add_option("--pause-for", options.pauseForSeconds, "How long --pause-after keeps the readings away")
        ->check(CLI::Range(0.0, 1e6));
    auto* countOption = app.add_option("--count", options.frameCount, "Stop after K live frames")
                            ->check(CLI::Range(int64_t{0}, int64_t{1} << 40));
    app.add_option("--capture", options.capturePath,
                   "Write the byte stream of --count frames (after the "
                   "--log burst) to FILE instead of a pseudo-terminal")
        ->needs(countOption)
        ->type_name("FILE");
    app.add_option("--link", options.linkPath, "Make a symbolic link PATH to the pseudo-terminal")
        ->type_name("PATH");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : 2;
    }

    options.wave.shape = shapes.at(shape);
    options.reading.function = static_cast<uint8_t>(function);
    options.reading.submode = static_cast<uint8_t>(submode);
    options.reading.range = static_cast<uint8_t>(range);
    if (logOption->count() > 0) {
        options.logAtStart = logAtStart;
        options.logCount = logAtStart;
    }
    if (!scriptPath.empty()) {
        calvora::Outcome<std::vector<Bytes>> script = LoadHexLines(scriptPath);
        if (!script) {
            std::fprintf(stderr, "calvora-sim: %s\n", calvora::toUtf8(script.reason()).c_str());
            return 2;
        }
        options.script = std::move(script).value();
    }
    if (!recordsPath.empty()) {
        const calvora::Outcome<std::vector<Bytes>> lines = LoadHexLines(recordsPath);
        if (!lines) {
            std::fprintf(stderr, "calvora-sim: %s\n", calvora::toUtf8(lines.reason()).c_str());
            return 2;
        }
        Bytes all;
        for (const Bytes& line : lines.value())
            all.insert(all.end(), line.begin(), line.end());
        if (all.empty() || all.size() % 4 != 0) {
            std::fprintf(stderr, "calvora-sim: %s must hold a whole number of 4-byte records\n",
                         recordsPath.c_str());
            return 2;
        }
        for (size_t i = 0; i < all.size(); i += 4)
            options.records.push_back(Record{all[i], all[i + 1], all[i + 2], all[i + 3]});
    }
    if (!options.capturePath.empty())
        return RunCapture(options);
    return RunPseudoTerminal(options);
}
