// The Qt window on the offscreen platform, driven through real key and mouse
// events, against a fake resolver and a small vendor table.
#include <QtTest>
#include <QtWidgets>
#include <memory>
#include <tuple>

#include "form.h"
#include "frmMAC.h"
#include "oui.h"
#include "table_error.h"

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

  void cleanup() { window_.reset(); }

  void click() {
    const QString prompt = QString::fromUtf16(norvane::kPromptText);
    const QString error = QString::fromUtf16(norvane::kQueryErrorText);
    auto asked = [](const QString& typed, const QString& mac,
                    const QString& vendor) {
      return std::pair(typed, QStringList{"query " + typed, "txtMAC=" + mac,
                                          "txtVendor=" + vendor});
    };
    const std::pair<QString, QStringList> cases[] = {
        {"", {"txtIP=" + prompt, "txtMAC=", "txtVendor="}},
        {prompt, {"txtMAC=", "txtVendor="}},  // txtIP holds it already
        asked("sila masukkan ip!", error, ""),
        asked(prompt + " ", error, ""),
        asked("   ", error, ""),
        asked("198.51.100.9", error, ""),
        asked("198.51.100.7", "00-0C-29-3A-4B-5C", "Example Cards Ltd"),
        asked("198.51.100.8", "02-00-5E-10-00-01", ""),
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
    QCOMPARE(mac_->text(), "02-00-5E-10-00-01");
  }

  void keyboard() {
    QCOMPARE(QApplication::focusWidget(), ip_);
    for (QWidget* next : QList<QWidget*>{button_, mac_, vendor_, ip_}) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), next);
    }
    // Enter and Esc press nothing; typing into a read-only box changes it not.
    for (QWidget* box : {ip_, mac_, vendor_}) {
      for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(box, key);
      }
    }
    QApplication::clipboard()->setText("pasted");
    for (QLineEdit* box : {mac_, vendor_}) {
      QTest::keyClicks(box, "typed");
      QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
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
    // Pixels (twips / 15). An empty box is sized to its caption; no font is
    // the window's.
    const std::tuple<const char*, QRect, QString, QString> rows[] = {
        {"Image1", {16, 0, 48, 48}, "", ""},
        {"lblTitle", {80, 8, 185, 17}, "Velmora Networks", "9.75 bold"},
        {"Label4", {64, 32, 209, 17}, "http://www.velmora.example", "8.25"},
        {"Label1", {8, 64, 0, 0}, "IP Address:", ""},
        {"txtIP", {8, 80, 153, 19}, "192.168.0.1", ""},
        {"cmdRetreive", {176, 80, 73, 17}, "Dapatkan", ""},
        {"Label3", {8, 104, 0, 0}, "MAC Address:", ""},
        {"txtMAC", {8, 120, 257, 19}, "", ""},
        {"Label2", {8, 144, 0, 0}, "Vendor:", ""},
        {"txtVendor", {8, 160, 257, 19}, "", ""},
    };
    QList<QRect> taken;
    for (const auto& [name, box, text, font] : rows) {
      QWidget* w = window_->findChild<QWidget*>(name);
      QVERIFY2(w != nullptr, name);
      const QSize size = box.isEmpty() ? w->sizeHint() : box.size();
      QCOMPARE(
          std::tuple(name, w->geometry(), w->property("text").toString(),
                     describe(w->font()), w->focusPolicy()),
          std::tuple(name, QRect(box.topLeft(), size), text,
                     font.isEmpty() ? describe(window_->font()) : tahoma + font,
                     w->inherits("QLabel") ? Qt::NoFocus : Qt::StrongFocus));
      for (const QRect& other : taken) {
        QVERIFY2(!other.intersects(w->geometry()), name);
      }
      taken << w->geometry();
      // The two with a font of their own centre their caption on one line.
      QVERIFY2(
          font.isEmpty() ||
              (qobject_cast<QLabel*>(w)->alignment() & Qt::AlignHCenter &&
               QFontMetrics(w->font()).horizontalAdvance(text) <= w->width()),
          name);
    }
    // The logo at its natural size, the 32-bit image with its alpha channel.
    const QPixmap logo = window_->findChild<QLabel*>("Image1")->pixmap();
    QCOMPARE(logo.size(), QSize(48, 48));
    QVERIFY(logo.hasAlphaChannel());
  }

  // The box of a start-up without a table; installed_test.sh sees the
  // program end after OK.
  void missingTableBox() {
    std::vector<std::u16string> list;
    const auto error = norvane::ReadTable("/nonexistent/oui.ieee", list);
    QVERIFY(error.has_value());
    std::tuple<QString, QString, QMessageBox::Icon, qsizetype> seen;
    QTimer::singleShot(0, [&seen] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      seen = {box->windowTitle(), box->text(), box->icon(),
              box->buttons().size()};
      box->button(QMessageBox::Ok)->click();
    });
    norvane::qt::ShowTableError(*error);
    QCOMPARE(seen, std::tuple(QString("ERROR: Can't Find File"),
                              QString("Critical Error! oui.ieee not found!"),
                              QMessageBox::Critical, qsizetype{1}));
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
