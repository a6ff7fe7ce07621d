#include "startup.h"

namespace norvane {

bool LoadOUI(ShowTableErrorFunction show) {
  const auto error = LoadTable();
  if (!error) return true;
  show(*error);
  return false;
}

}  // namespace norvane
