// The program's first step, shared by every front end: the vendor table is
// loaded before any window exists.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "oui.h"

namespace norvane {

// Makes sure descriptors 0 to 2 are open before the program opens anything,
// so that no socket or file of its own takes the number of a closed standard
// stream and gets the lines or messages meant for it. A closed one is opened
// on the null device the other way round (standard input for writing, the
// outputs for reading), so reading or writing it still fails as it would
// have: a closed standard output is a write error, not a silent success.
// Nothing to do on Windows.
void OpenStandardStreams();

// Exit status of a program that could not load its table.
inline constexpr int kTableExitStatus = 2;

// Why the table could not be loaded, worded for the user.
struct TableError {
  std::u16string message;
  std::u16string title;
};

// The words shown for fault.
TableError Worded(const TableFault& fault);

// The directory that holds the running executable (never the working
// directory); empty when it cannot be found.
std::filesystem::path ProgramDirectory();

// Reads oui.ieee from directory (the executable's own by default) into
// OUIList. An empty directory, one that could not be found, has no table.
std::optional<TableError> LoadTable(
    const std::filesystem::path& directory = ProgramDirectory());

// Shows a table error to the user and returns once it has been seen.
using ShowTableErrorFunction = void (*)(const TableError& error);

// Loads oui.ieee from the executable's directory into OUIList. When it is
// missing or cannot be read, shows why through show and returns false: the
// caller then ends the program with kTableExitStatus, showing nothing else.
bool LoadOUI(ShowTableErrorFunction show);

}  // namespace norvane
