// Where calvora-cli's results go: the saved pair of a recording, a single file, standard output.
#pragma once

#include "recording/byte_sink.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <functional>
#include <string>

namespace calvora {
class RecordingDocument;
class RecordingState;
} // namespace calvora

namespace calvora::cli {

// Reads a .recorder file or a csv export into `document` and prepares it as its chart would show it. ExitOk,
// or ExitUsage with the reason on standard error (a file that cannot be read, or is no recording).
int LoadRecording(const std::string& file, RecordingDocument& document);

// Writes BASE.recorder and BASE.csv as the Save command does and prints their paths, one per line.
// Without a base the name is the Save command's default name in the current folder, made unique
// (" (2)", " (3)" ...). ExitOk, or ExitFailure with the reason on standard error.
int SaveAs(const RecordingDocument& document, const std::string& base, RecordingState& documents);

// The one file of export and convert; "-" is standard output. ExitOk or ExitFailure.
int WriteOutput(const std::string& out, const std::function<bool(ByteSink&)>& write);

// The check of --out where it names the base of a pair: "-" cannot stand for two files.
CLI::Validator PairBase();

// Said after a failed save of a live recording: where the samples are kept and how to get them out.
void TellHowToRecover(const std::filesystem::path& journal);

// Flushes standard output. A result that could not be written (a full disk, a closed descriptor)
// turns success into ExitFailure, with a message on standard error; a failure stays as it is.
int FinishStandardOutput(int exitCode);

} // namespace calvora::cli
