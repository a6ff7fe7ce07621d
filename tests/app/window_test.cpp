// The Qt window on the offscreen platform, driven through real key and mouse
// events, against a fake resolver and a small vendor table.
#include <QtTest>
#include <QtWidgets>
#include <functional>
#include <memory>
#include <tuple>

#include "form.h"
#include "frmMAC.h"
#include "layout.h"
#include "oui.h"
#include "resolve_each.h"

namespace {

// Every query and every change of a box's text, in order.
QStringList events;
Qt::CursorShape cursor_during_query = Qt::ArrowCursor;
// Run inside each query, while the window is blocked.
std::function<void()> during_query;

// What begins like .7 answers with a listed prefix; nothing else answers.
std::uint32_t FakeParse(const std::u16string& text) {
  events << "query " + QString::fromStdU16String(text);
  return text.starts_with(u"198.51.100.7") ? 7 : 9;
}

bool FakeResolve(std::uint32_t address, norvane::HardwareBuffer& buffer,
                 std::uint32_t& length) {
  const QCursor* cursor = QApplication::overrideCursor();
  cursor_during_query = cursor ? cursor->shape() : Qt::ArrowCursor;
  if (during_query) during_query();
  buffer = {0x00, 0x0C, 0x29, 0x3A, 0x4B, 0x5C};
  length = 6;
  return address == 7;
}

const norvane::AddressPlatform kFakePlatform{FakeParse,
                                             norvane::ResolveEach<FakeResolve>};

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT
  std::unique_ptr<frmMAC> window_;
  QLineEdit *ip_, *mac_, *vendor_;
  QPushButton* button_;

  // Posts a key press on txtIP and a click on the button, stamped with the
  // window system's time at, as its queue hands them over.
  void give(quint64 at) {
    auto* key = new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x");
    key->setTimestamp(at);
    QCoreApplication::postEvent(ip_, key);
    const QPointF centre = QRectF(button_->rect()).center();
    for (const auto& [type, held] :
         {std::pair{QEvent::MouseButtonPress, Qt::LeftButton},
          std::pair{QEvent::MouseButtonRelease, Qt::NoButton}}) {
      auto* click = new QMouseEvent(type, centre, button_->mapToGlobal(centre),
                                    Qt::LeftButton, held, Qt::NoModifier);
      click->setTimestamp(at);
      QCoreApplication::postEvent(button_, click);
    }
  }

 private slots:
  void init() {
    window_ = std::make_unique<frmMAC>(kFakePlatform);
    ip_ = window_->findChild<QLineEdit*>("txtIP");
    mac_ = window_->findChild<QLineEdit*>("txtMAC");
    vendor_ = window_->findChild<QLineEdit*>("txtVendor");
    button_ = window_->findChild<QPushButton*>("cmdRetreive");
    for (QLineEdit* box : {ip_, mac_, vendor_})
      connect(box, &QLineEdit::textChanged, box, [box](const QString& text) {
        events << box->objectName() + "=" + text;
      });
    window_->show();
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    events.clear();
  }

  void cleanup() {
    during_query = nullptr;
    window_.reset();
  }

  // What the user gives while a query blocks the window waits in the queue,
  // stamped with its time: after a key and a click that run a query, 19 more
  // of each come during its 100 ms and must all be dropped when it ends.
  // Input given later is handled as ever, here after the window system's
  // 32-bit clock has wrapped (as it does every 49 days).
  void inputDuringAQueryIsDropped() {
    const quint64 clicked_at = 0xFFFFFFFF - 200;
    ip_->setText("198.51.100.9");
    during_query = [this, clicked_at] {
      during_query = nullptr;
      QThread::msleep(100);
      for (int k = 1; k < 20; ++k) give(clicked_at + 5 * k);
    };
    const QString error = QString::fromUtf16(norvane::kQueryErrorText);
    const std::pair<quint64, QString> rows[] = {{clicked_at, "198.51.100.9x"},
                                                {20, "198.51.100.9xx"}};
    for (const auto& [at, typed] : rows) {
      for (QLineEdit* box : {mac_, vendor_}) box->setText("stale");
      ip_->setFocus();
      events.clear();
      give(at);
      QCoreApplication::processEvents();
      QCOMPARE(events, QStringList({"txtIP=" + typed, "query " + typed,
                                    "txtMAC=" + error, "txtVendor="}));
    }
  }

  // What a screen reader says for each control.
  void accessibleNames() {
    const std::tuple<const char*, QString, QString> rows[] = {
        {"txtIP", "IP Address:", ""},
        {"txtMAC", "MAC Address:", ""},
        {"txtVendor", "Vendor:", ""},
        {"Image1", "", "Velmora Networks logo"},
    };
    for (const auto& [name, said, described] : rows) {
      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(
          window_->findChild<QWidget*>(name));
      QVERIFY2(a != nullptr, name);
      QCOMPARE(std::tuple(name, a->text(QAccessible::Name),
                          a->text(QAccessible::Description)),
               std::tuple(name, said, described));
    }
  }

  // The button runs the shared click logic (its cases are in form_test.cpp)
  // on these boxes under the busy cursor. What they hold is not cut at the
  // 32,767 characters a line edit takes by default: neither the address
  // given nor the vendor written back.
  void click() {
    const QString vendor(40000, 'V');
    norvane::OUIList = {u"00-0C-29   (hex)        " + vendor.toStdU16String()};
    const QString prompt = QString::fromUtf16(norvane::kPromptText);
    const QString typed = "198.51.100.7" + QString(40000, ' ');
    const std::pair<QString, QStringList> cases[] = {
        {"", {"txtIP=" + prompt, "txtMAC=", "txtVendor="}},
        {typed,
         {"query " + typed, "txtMAC=00-0C-29-3A-4B-5C", "txtVendor=" + vendor}},
    };
    for (const auto& [given, expected] : cases) {
      for (QLineEdit* box : {mac_, vendor_}) box->setText("stale");
      ip_->setText(given);
      events.clear();
      QTest::mouseClick(button_, Qt::LeftButton);
      QCOMPARE(events, expected);
    }
    QCOMPARE(cursor_during_query, Qt::WaitCursor);
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void keyboard() {
    QCOMPARE(QApplication::focusWidget(), ip_);
    for (QWidget* next : QList<QWidget*>{button_, mac_, vendor_, ip_}) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), next);
    }
    // Enter and Esc press nothing.
    for (QWidget* box : {ip_, mac_, vendor_})
      for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        QTest::keyClick(box, key);
    // The result boxes take no typing.
    for (QWidget* box : {mac_, vendor_}) QTest::keyClicks(box, "x");
    QCOMPARE(events, QStringList());
    QVERIFY(window_->isVisible());
  }

  // Every control of the layout table, by name, in its font, none
  // overlapping another. At the desktop's scale (ctest runs
  // this at 1x and 2x) and in dark colours every text is whole and drawn in
  // its colour, a result in the result boxes too.
  void layout() {
    QCOMPARE(window_->windowTitle(), "        Norvane v1.0");
    QCOMPARE(window_->size(), QSize(271, 197));
    QCOMPARE(window_->minimumSize(), window_->maximumSize());
    QVERIFY(window_->windowIcon().availableSizes().contains(QSize(48, 48)));
    // The logo at its natural size, the 32-bit image with its alpha channel.
    const QPixmap logo = window_->findChild<QLabel*>("Image1")->pixmap();
    QCOMPARE(logo.size(), QSize(48, 48));
    QVERIFY(logo.hasAlphaChannel());
    QPalette dark;
    for (const auto& [role, rgb] : {std::pair{QPalette::Window, 0x202024},
                                    {QPalette::WindowText, 0xF0F0F0},
                                    {QPalette::Base, 0x101012},
                                    {QPalette::Text, 0xE0FFE0},
                                    {QPalette::Button, 0x303038},
                                    {QPalette::ButtonText, 0xFFF0D0}})
      dark.setColor(role, QColor::fromRgb(rgb));
    QApplication::setPalette(dark);
    QCoreApplication::processEvents();
    const QString result = "00-0C-29-3A-4B-5C";
    for (QLineEdit* box : {mac_, vendor_}) box->setText(result);
    const QImage shot = window_->grab().toImage();
    QApplication::setPalette(QPalette());
    const qreal scale = shot.devicePixelRatio();
    // The face asked for, the face shown, points and weight.
    auto describe = [](const QFont& f) {
      return QString("%1/%2 %3%4")
          .arg(f.families().value(0), QFontInfo(f).family())
          .arg(f.pointSizeF())
          .arg(f.bold() ? " bold" : "");
    };
    const QString tahoma = QString("Tahoma/%1 ")
                               .arg(QFontDatabase::hasFamily("Tahoma")
                                        ? "Tahoma"
                                        : norvane::qt::kFallbackFace);
    QCOMPARE(window_->font().pointSizeF(), 8.25);
    namespace layout = norvane::layout;
    QList<QRect> taken;
    for (const layout::Control& c : layout::kControls) {
      const char* name = c.name.data();
      QWidget* w = window_->findChild<QWidget*>(name);
      QVERIFY2(w != nullptr, name);
      const QString text = w->property("text").toString();
      // The two labels at the top have fonts of their own; the rest share
      // the window's, which follows the desktop's face at 8.25 points.
      const QString font = c.name == "lblTitle" ? tahoma + "9.75 bold"
                           : c.name == "Label4" ? tahoma + "8.25"
                                                : describe(window_->font());
      QCOMPARE(std::tuple(name, describe(w->font())), std::tuple(name, font));
      for (const QRect& other : taken)
        QVERIFY2(!other.intersects(w->geometry()), name);
      taken << w->geometry();
      // The two with a font of their own centre their caption.
      QVERIFY2(c.font == layout::Font::kDefault ||
                   qobject_cast<QLabel*>(w)->alignment() & Qt::AlignHCenter,
               name);
      if (text.isEmpty()) continue;  // the logo
      // Room for the text inside the control's frame and margins.
      const QFontMetrics fm(w->font());
      const int frame = w->inherits("QLabel") ? 0 : 4;
      QVERIFY2(fm.horizontalAdvance(text) <= w->width() - 2 * frame, name);
      QVERIFY2(fm.height() <= w->height() - (frame > 0 ? 2 : 0), name);
      // Enough of the control's area is in the text's colour, and most of
      // it, the background, is not.
      const QColor ink = dark.color(w->foregroundRole());
      const QRect area = shot.rect() & QRect(w->geometry().topLeft() * scale,
                                             w->geometry().size() * scale);
      int inked = 0;
      for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
          const QColor p = shot.pixelColor(x, y);
          inked += qAbs(p.red() - ink.red()) + qAbs(p.green() - ink.green()) +
                       qAbs(p.blue() - ink.blue()) <
                   60;
        }
      }
      QVERIFY2(inked > 10 * scale * scale, name);
      QVERIFY2(2 * inked < area.width() * area.height(), name);
    }
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
