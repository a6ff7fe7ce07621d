// The program's only window: its controls as the layout table places them,
// and the button wired to the shared click logic.
#pragma once

#include <QWidget>

#include "mac.h"

class QLineEdit;

namespace norvane::qt {

// Used where "Tahoma" is not installed: DejaVu Sans is on every Debian
// desktop (fontconfig depends on it) and comes, like Tahoma, from the Verdana
// family of screen faces.
inline constexpr char kFallbackFace[] = "DejaVu Sans";

}  // namespace norvane::qt

class frmMAC : public QWidget {
  Q_OBJECT

 public:
  explicit frmMAC(
      const norvane::AddressPlatform& platform = norvane::SystemPlatform(),
      QWidget* parent = nullptr);

 private slots:
  void cmdRetreive_Click();

 private:
  const norvane::AddressPlatform& platform_;
  QLineEdit* txtIP_ = nullptr;
  QLineEdit* txtMAC_ = nullptr;
  QLineEdit* txtVendor_ = nullptr;
};
