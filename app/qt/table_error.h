// Start-up failure: the vendor table could not be loaded.
#pragma once

#include "startup.h"

namespace norvane::qt {

// Shows error in a modal critical message box with one OK button and returns
// once the user has pressed it.
void ShowTableError(const TableError& error);

}  // namespace norvane::qt
