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

namespace {

// Every query and every change of a box's text, in order.
QStringList events;
Qt::CursorShape cursor_during_query = Qt::ArrowCursor;
// Run inside each query, while the window is blocked.
std::function<void()> during_query;

// .7 answers with a listed prefix; nothing else answers.
std::uint32_t FakeParse(const std::u16string& text) {
  events << "query " + QString::fromStdU16String(text);
  return text == u"198.51.100.7" ? 7 : 9;
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

 private slots:
  void init() {
    norvane::OUIList = {u"00-0C-29   (hex)        Example Cards Ltd"};
    window_ = std::make_unique<frmMAC>(kFakePlatform);
    ip_ = window_->findChild<QLineEdit*>("txtIP");
    mac_ = window_->findChild<QLineEdit*>("txtMAC");
    vendor_ = window_->findChild<QLineEdit*>("txtVendor");
    button_ = window_->findChild<QPushButton*>("cmdRetreive");
    for (QLineEdit* box : {ip_, mac_, vendor_}) {
      connect(box, &QLineEdit::textChanged, box, [box](const QString& text) {
        events << box->objectName() + "=" + text;
      });
    }
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
  // stamped with the time it was given: posted here with the times of the
  // query's 100 ms, it must all be dropped when the query ends.
  void inputDuringAQueryIsDropped() {
    ip_->setText("198.51.100.9");
    const auto post = [this](quint64 at) {
      auto* key =
          new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x");
      key->setTimestamp(at);
      QCoreApplication::postEvent(ip_, key);
      for (QEvent::Type type :
           {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        const QPointF centre = QRectF(button_->rect()).center();
        auto* click = new QMouseEvent(
            type, centre, button_->mapToGlobal(centre), Qt::LeftButton,
            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
            Qt::NoModifier);
        click->setTimestamp(at);
        QCoreApplication::postEvent(button_, click);
      }
    };
    // The click's own events come just after this time.
    const quint64 clicked_at = QTest::lastMouseTimestamp;
    for (QLineEdit* box : {mac_, vendor_}) box->setText("stale");
    during_query = [&post, clicked_at] {
      during_query = nullptr;
      QThread::msleep(100);
      for (int k = 1; k < 20; ++k) post(clicked_at + 5 * k);
    };
    events.clear();
    QTest::mouseClick(button_, Qt::LeftButton);
    QCoreApplication::processEvents();
    const QStringList one_query{
        "query 198.51.100.9",
        "txtMAC=" + QString::fromUtf16(norvane::kQueryErrorText), "txtVendor="};
    QCOMPARE(events, one_query);
    // Input given after the query is handled as ever.
    for (QLineEdit* box : {mac_, vendor_}) box->setText("stale");
    events.clear();
    QTest::lastMouseTimestamp += 60000;
    ip_->setFocus();
    post(QTest::lastMouseTimestamp);
    QCoreApplication::processEvents();
    const QStringList typed_and_asked{"txtIP=198.51.100.9x",
                                      "query 198.51.100.9x"};
    QCOMPARE(events, typed_and_asked + one_query.mid(1));
  }

  // The window system's 32-bit clock wraps after 49 days: input given after
  // a query that ended just before the wrap is handled as ever.
  void inputAfterTheClockWraps() {
    ip_->setText("198.51.100.9");
    QTest::lastMouseTimestamp = 0xFFFFFFF0;
    QTest::mouseClick(button_, Qt::LeftButton);
    ip_->setFocus();
    events.clear();
    auto* key = new QKeyEvent(QEvent::KeyPress, Qt::Key_Y, Qt::NoModifier, "y");
    key->setTimestamp(20);
    QCoreApplication::postEvent(ip_, key);
    QCoreApplication::processEvents();
    QCOMPARE(events, QStringList{"txtIP=198.51.100.9y"});
  }

  // What a screen reader says for each control.
  void accessibleNames() {
    const std::tuple<const char*, QAccessible::Role, QString, QString> rows[] =
        {
            {"txtIP", QAccessible::EditableText, "IP Address:", ""},
            {"cmdRetreive", QAccessible::Button, "Dapatkan", ""},
            {"txtMAC", QAccessible::EditableText, "MAC Address:", ""},
            {"txtVendor", QAccessible::EditableText, "Vendor:", ""},
            {"Image1", QAccessible::Graphic, "", "The Velmora Networks logo"},
        };
    for (const auto& [name, role, said, described] : rows) {
      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(
          window_->findChild<QWidget*>(name));
      QVERIFY2(a != nullptr, name);
      QCOMPARE(std::tuple(name, a->role(), a->text(QAccessible::Name),
                          a->text(QAccessible::Description)),
               std::tuple(name, role, said, described));
    }
  }

  // Longer than the 32,767 characters a line edit takes by default, in the
  // address box and written by the program.
  void noLengthLimit() {
    const QString vendor(40000, 'V');
    norvane::OUIList = {u"00-0C-29   (hex)        " + vendor.toStdU16String()};
    const QString typed = "198.51.100.7" + QString(40000, ' ');
    ip_->setText(typed);
    events.clear();
    QTest::mouseClick(button_, Qt::LeftButton);
    QCOMPARE(events.value(0), "query " + typed);
    ip_->setText("198.51.100.7");
    QTest::mouseClick(button_, Qt::LeftButton);
    QCOMPARE(vendor_->text(), vendor);
  }

  // At the desktop's scale (ctest runs this at 1x and 2x) and in dark
  // colours every caption and text is whole and drawn in its colour.
  void scaledAndDark() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x24));
    dark.setColor(QPalette::WindowText, QColor(0xF0, 0xF0, 0xF0));
    dark.setColor(QPalette::Base, QColor(0x10, 0x10, 0x12));
    dark.setColor(QPalette::Text, QColor(0xE0, 0xFF, 0xE0));
    dark.setColor(QPalette::Button, QColor(0x30, 0x30, 0x38));
    dark.setColor(QPalette::ButtonText, QColor(0xFF, 0xF0, 0xD0));
    QApplication::setPalette(dark);
    QCoreApplication::processEvents();
    mac_->setText("00-0C-29-3A-4B-5C");
    vendor_->setText("Example Cards Ltd");
    const QImage shot = window_->grab().toImage();
    QApplication::setPalette(QPalette());
    const qreal scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                            ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
                            : 1.0;
    QCOMPARE(shot.devicePixelRatio(), scale);
    QCOMPARE(shot.size(), QSize(271, 197) * scale);
    for (QWidget* w : window_->findChildren<QWidget*>()) {
      const QString text = w->property("text").toString();
      if (text.isEmpty()) continue;
      const QFontMetrics fm(w->font());
      // Room for the text inside the control's frame and margins.
      const int frame = w->inherits("QLabel") ? 0 : 4;
      const QByteArray id = w->objectName().toLatin1();
      const char* name = id.constData();
      QVERIFY2(fm.horizontalAdvance(text) <= w->width() - 2 * frame, name);
      QVERIFY2(fm.height() <= w->height() - (frame > 0 ? 2 : 0), name);
      const QPalette::ColorRole role = w->inherits("QLineEdit") ? QPalette::Text
                                       : w->inherits("QPushButton")
                                           ? QPalette::ButtonText
                                           : QPalette::WindowText;
      const QColor ink = dark.color(role);
      const QRect area = shot.rect() & QRect(w->geometry().topLeft() * scale,
                                             w->geometry().size() * scale);
      // Enough of the area is in the text's colour, and most of it, the
      // background, is not.
      int inked = 0;
      for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
          const QRgb p = shot.pixel(x, y);
          inked += qAbs(qRed(p) - ink.red()) + qAbs(qGreen(p) - ink.green()) +
                       qAbs(qBlue(p) - ink.blue()) <
                   60;
        }
      }
      QVERIFY2(inked > 10 * scale * scale, name);
      QVERIFY2(2 * inked < area.width() * area.height(), name);
    }
  }

  // The button runs the shared click logic on these boxes under the busy
  // cursor; the logic's cases are tested without a window (form_test.cpp).
  void click() {
    const QString prompt = QString::fromUtf16(norvane::kPromptText);
    const std::pair<QString, QStringList> cases[] = {
        {"", {"txtIP=" + prompt, "txtMAC=", "txtVendor="}},
        {"198.51.100.7",
         {"query 198.51.100.7", "txtMAC=00-0C-29-3A-4B-5C",
          "txtVendor=Example Cards Ltd"}},
    };
    for (const auto& [typed, expected] : cases) {
      for (QLineEdit* box : {mac_, vendor_}) box->setText("stale");
      ip_->clear();
      QTest::keyClicks(ip_, typed);
      events.clear();
      QTest::mouseClick(button_, Qt::LeftButton);
      QCOMPARE(events, expected);
    }
    QCOMPARE(cursor_during_query, Qt::WaitCursor);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    // Editing txtIP alone leaves the last results standing.
    QTest::keyClicks(ip_, "0");
    QCOMPARE(mac_->text(), "00-0C-29-3A-4B-5C");
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
    QCOMPARE(events, QStringList());
    QVERIFY(window_->isVisible());
  }

  void layout() {
    QCOMPARE(window_->windowTitle(), "        Norvane v1.0");
    QCOMPARE(window_->size(), QSize(271, 197));
    QCOMPARE(window_->minimumSize(), window_->maximumSize());
    QVERIFY(window_->windowIcon().availableSizes().contains(QSize(48, 48)));
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
    // Every control of the layout table, by name, with its text, font, focus
    // and settings. None overlaps another (scaledAndDark checks that every
    // caption fits).
    namespace layout = norvane::layout;
    QList<QRect> taken;
    for (const layout::Control& c : layout::kControls) {
      const char* name = c.name.data();
      QWidget* w = window_->findChild<QWidget*>(name);
      QVERIFY2(w != nullptr, name);
      const QString text = QString::fromStdU16String(std::u16string(c.text));
      const QString font = c.font == layout::Font::kTitle ? tahoma + "9.75 bold"
                           : c.font == layout::Font::kAddress
                               ? tahoma + "8.25"
                               : describe(window_->font());
      const auto* box = qobject_cast<QLineEdit*>(w);
      QCOMPARE(
          std::tuple(name, w->property("text").toString(), describe(w->font()),
                     w->focusPolicy(), box && box->isReadOnly()),
          std::tuple(name, text, font,
                     w->inherits("QLabel") ? Qt::NoFocus : Qt::StrongFocus,
                     c.read_only));
      for (const QRect& other : taken)
        QVERIFY2(!other.intersects(w->geometry()), name);
      taken << w->geometry();
      // The two with a font of their own centre their caption.
      QVERIFY2(c.font == layout::Font::kDefault ||
                   qobject_cast<QLabel*>(w)->alignment() & Qt::AlignHCenter,
               name);
    }
    // The logo at its natural size, the 32-bit image with its alpha channel.
    const QPixmap logo = window_->findChild<QLabel*>("Image1")->pixmap();
    QCOMPARE(logo.size(), QSize(48, 48));
    QVERIFY(logo.hasAlphaChannel());
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
