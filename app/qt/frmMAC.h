// The program's only window: its controls as the layout table places them,
// and the button wired to the shared click logic.
#pragma once

#include <QWidget>
#include <chrono>

#include "mac.h"

class QLineEdit;

namespace norvane::qt {

// Used where "Tahoma" is not installed: DejaVu Sans is on every Debian
// desktop (fontconfig depends on it) and comes, like Tahoma, from the Verdana
// family of screen faces.
inline constexpr char kFallbackFace[] = "DejaVu Sans";

// The window's own font: the desktop's default face at the size the layout was
// drawn for, so that every caption fits its box whatever size the desktop
// picks for other programs.
inline constexpr double kWindowFontPoints = 8.25;

}  // namespace norvane::qt

class frmMAC : public QWidget {
  Q_OBJECT

 public:
  explicit frmMAC(
      const norvane::AddressPlatform& platform = norvane::SystemPlatform(),
      QWidget* parent = nullptr);

 protected:
  // Drops the mouse and keyboard input given while a query blocked the
  // window, so that impatient clicks do not each run another query.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private slots:
  void cmdRetreive_Click();

 private:
  const norvane::AddressPlatform& platform_;
  // Input events carry the windowing system's time in milliseconds: the last
  // one let through, and the end of the last query on that clock.
  quint64 last_input_time_ = 0;
  quint64 busy_until_ = 0;
  // When the last query ended on this machine's clock: what waited in the
  // queue arrives at once after it, so later input is never compared.
  std::chrono::steady_clock::time_point query_ended_;
  QLineEdit* txtIP_ = nullptr;
  QLineEdit* txtMAC_ = nullptr;
  QLineEdit* txtVendor_ = nullptr;
};
