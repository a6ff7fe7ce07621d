// The program's first step, shared by every front end: the vendor table is
// loaded before any window exists.
#pragma once

#include "oui.h"

namespace norvane {

// Shows a table error to the user and returns once it has been seen.
using ShowTableErrorFunction = void (*)(const TableError& error);

// Loads oui.ieee from the executable's directory into OUIList. When it is
// missing or cannot be read, shows why through show and returns false: the
// caller then ends the program with kTableExitStatus, showing nothing else.
bool LoadOUI(ShowTableErrorFunction show);

}  // namespace norvane
