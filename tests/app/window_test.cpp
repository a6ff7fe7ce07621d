// The Qt window on the offscreen platform, driven through real key and mouse
// events, against a fake resolver and a small vendor table.
#include <QtTest>
#include <QtWidgets>
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

// .7 answers with a listed prefix, .8 with an unlisted one, .9 not at all.
std::uint32_t FakeParse(const std::u16string& text) {
  events << "query " + QString::fromStdU16String(text);
  if (text == u"198.51.100.7") return 7;
  if (text == u"198.51.100.8") return 8;
  return text == u"198.51.100.9" ? 9 : 0xFFFFFFFFu;
}

bool FakeResolve(std::uint32_t address, norvane::HardwareBuffer& buffer,
                 std::uint32_t& length) {
  const QCursor* cursor = QApplication::overrideCursor();
  cursor_during_query = cursor ? cursor->shape() : Qt::ArrowCursor;
  if (address == 7) buffer = {0x00, 0x0C, 0x29, 0x3A, 0x4B, 0x5C};
  if (address == 8) buffer = {0x02, 0x00, 0x5E, 0x10, 0x00, 0x01};
  length = 6;
  return address != 9;
}

const norvane::AddressPlatform kFakePlatform{FakeParse, FakeResolve};

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

  void cleanup() { window_.reset(); }

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
    for (QWidget* box : {ip_, mac_, vendor_}) {
      for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(box, key);
      }
    }
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
    // and settings. None overlaps another, and every caption fits its box on
    // one line.
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
      for (const QRect& other : taken) {
        QVERIFY2(!other.intersects(w->geometry()), name);
      }
      taken << w->geometry();
      if (c.kind == layout::Kind::kLabel) {
        QVERIFY2(QFontMetrics(w->font()).horizontalAdvance(text) <= w->width(),
                 name);
      }
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
