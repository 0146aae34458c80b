// Saving a document: the default name, the folder, the two file names derived from the chosen
// one, and writing both files so that a failure never destroys what was on disk before.
#pragma once

#include "recording/atomic_file.h"

#include <ctime>
#include <filesystem>
#include <string>

namespace calvora {

class RecordingDocument;
class RecordingState;

// "Multimeter %y-%m-%d  %H.%M.%S" (two blanks) of the given local time.
std::u16string DefaultFileName(const std::tm& localTime);
std::u16string DefaultFileNameNow();

// The user's documents folder: XDG_DOCUMENTS_DIR from $XDG_CONFIG_HOME/user-dirs.dirs
// (~/.config when unset), else $HOME/Documents.
std::filesystem::path DocumentsFolder();
// DocumentsFolder() / "Multimeter", created (one level, failure ignored) when missing.
std::filesystem::path PrepareSaveFolder();

struct SavePaths {
    std::filesystem::path record; // base + ".recorder"
    std::filesystem::path text;   // base + ".csv"
};
// The base is the chosen path without its file name's last extension: data.xls gives data.recorder
// and data.csv, run.1.recorder gives run.1.*. A dot in a folder name is not an extension.
SavePaths DerivePaths(const std::filesystem::path& chosen);

// The Save command after the dialog: writes the text export and the record file derived from
// `chosen`. Both targets are checked before either is written, and both are replaced only when both
// are complete: if the second cannot be put in place, the first gets its old content back. dataSaved
// is set only on success and only for the live recording document.
Outcome<void> SaveDocument(const RecordingDocument& document, const std::filesystem::path& chosen,
                           RecordingState& state);

// SaveDocument under a name nobody has: `base` + ".recorder"/".csv" when both are free, else
// `base` + " (2)", " (3)" ... The pair is claimed by creating both files empty and exclusively before
// the save, so two programs saving in the same second never write over each other; a failed save
// gives the claim back. Returns the paths written.
Outcome<SavePaths> SaveDocumentUnderNewName(const RecordingDocument& document,
                                            const std::filesystem::path& base, RecordingState& state);

} // namespace calvora
