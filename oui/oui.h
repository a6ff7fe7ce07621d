// The vendor table: oui.ieee beside the executable, cut into lines, and the
// lookup of a hardware address text's vendor prefix in it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

// Cuts text into pieces at every occurrence of delimiter and stores them in
// list from index on; index is left one past the last piece stored. The text
// gets the delimiter appended when it does not already end with it, so the
// last piece is never lost and a final delimiter adds no empty piece. Entries
// of list below the starting index are kept; the list is made exactly long
// enough for the last piece stored. Failures (memory, an empty delimiter) stop
// the procedure quietly with what it has stored.
void SplitText(std::u16string& text, const std::u16string& delimiter,
               std::vector<std::u16string>& list, std::size_t& index);

// True when path names an ordinary file: not a directory, and on Windows not
// marked hidden or system.
bool FileExists(const std::filesystem::path& path);

// The table's lines in file order. Filled once by LoadOUI, read by FindVendor.
extern std::vector<std::u16string> OUIList;

// The vendor table's file name; it lies in the executable's directory.
inline constexpr std::string_view kTableFileName = "oui.ieee";

// Exit status of a program that could not load its table.
inline constexpr int kTableExitStatus = 2;

// Why a table could not be loaded, worded for the user.
struct TableError {
  std::u16string message;
  std::u16string title;
};

// Reads the table file at path into list, replacing what list held.
// Returns the error to show when the file is missing or cannot be read.
std::optional<TableError> ReadTable(const std::filesystem::path& path,
                                    std::vector<std::u16string>& list);

// Shows a table error to the user and returns once the user has seen it.
// The front end installs one that shows a modal message box; without one the
// text goes to standard error.
using TableErrorHandler = void (*)(const TableError& error);
void SetTableErrorHandler(TableErrorHandler handler);

// Loads oui.ieee from the executable's directory into OUIList. A missing or
// unreadable table is shown through the error handler and ends the program
// with kTableExitStatus.
void LoadOUI();
// The same from another directory.
void LoadOUIFrom(const std::filesystem::path& directory);

// The vendor name of the first record whose columns 1 to 8 equal the first 8
// characters of mac, from column 25 on, unchanged; empty when none matches.
// Comment lines (starting with '#') never match.
std::u16string FindVendor(const std::u16string& mac);

// The directory that holds the running executable (never the working
// directory).
std::filesystem::path ProgramDirectory();

// Decodes bytes through the system code page: UTF-8 on Linux, where every
// byte that is not part of a valid sequence becomes one U+FFFD; the ANSI code
// page on Windows.
std::u16string DecodeSystemText(std::string_view bytes);
// The same into out, replacing its text and reusing its storage.
void DecodeSystemText(std::string_view bytes, std::u16string& out);

// UTF-16 to UTF-8, for writing texts to a terminal or a file name.
std::string ToUtf8(std::u16string_view text);

}  // namespace norvane
