// The Qt window on the offscreen platform, driven through real key and mouse
// events, against a fake resolver and a small vendor table.
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cstdio>
#include <map>
#include <memory>
#include <string_view>

#include "form.h"
#include "frmMAC.h"
#include "layout.h"
#include "oui.h"
#include "table_error.h"

using norvane::kPromptText;
using norvane::kQueryErrorText;
namespace layout = norvane::layout;

namespace {

// --- fake platform: three hosts, the third without an answer ---------------

QStringList queried;  // every text handed to the parser
Qt::CursorShape cursor_during_query = Qt::ArrowCursor;

std::uint32_t FakeParse(const std::u16string& text) {
  queried << QString::fromStdU16String(text);
  static const std::map<std::u16string, std::uint32_t> known{
      {u"198.51.100.7", 7}, {u"198.51.100.8", 8}, {u"198.51.100.9", 9}};
  const auto it = known.find(text);
  return it == known.end() ? 0xFFFFFFFFu : it->second;
}

bool FakeResolve(std::uint32_t address, norvane::HardwareBuffer& buffer,
                 std::uint32_t& length) {
  const QCursor* cursor = QApplication::overrideCursor();
  cursor_during_query = cursor ? cursor->shape() : Qt::ArrowCursor;
  if (address == 7) {
    buffer = {0x00, 0x0C, 0x29, 0x3A, 0x4B, 0x5C};
  } else if (address == 8) {
    buffer = {0x02, 0x00, 0x5E, 0x10, 0x00, 0x01};
  } else {
    return false;
  }
  length = 6;
  return true;
}

const norvane::AddressPlatform kFakePlatform{FakeParse, FakeResolve};

constexpr char kTable[] =
    "# a small table\r\n"
    "00-0C-29   (hex)        Example Cards Ltd\r\n"
    "00-0C-29   (hex)        A later duplicate\r\n";

QString Q(std::u16string_view text) {
  return QString(reinterpret_cast<const QChar*>(text.data()),
                 static_cast<qsizetype>(text.size()));
}

// Runs check on the first modal box that opens, then presses its OK button.
void AnswerNextBox(const std::function<void(QMessageBox&)>& check) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, check] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    timer->stop();
    timer->deleteLater();
    check(*box);
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  });
  timer->start(10);
}

// The child process of missingTableEndsProgram: a start-up with no table.
int MissingTableStart(const char* directory) {
  static int argc = 1;
  static char name[] = "child";
  static char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  norvane::SetTableErrorHandler(norvane::qt::ShowTableError);
  AnswerNextBox([](QMessageBox& box) {
    int windows = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (qobject_cast<frmMAC*>(w) != nullptr) ++windows;
    }
    std::printf("box: %s|%s|%d|%d|windows %d\n", qPrintable(box.windowTitle()),
                qPrintable(box.text()), static_cast<int>(box.icon()),
                static_cast<int>(box.buttons().size()), windows);
    std::fflush(stdout);
  });
  norvane::LoadOUIFrom(directory);
  frmMAC window(kFakePlatform);
  window.show();
  std::printf("window shown\n");
  return 0;
}

}  // namespace

// The order the click writes the boxes in, without any toolkit.
class RecordingBoxes : public norvane::FormBoxes {
 public:
  explicit RecordingBoxes(std::u16string ip) : ip_(std::move(ip)) {}
  std::u16string IPText() const override { return ip_; }
  void SetIPText(const std::u16string& t) override { Log("ip", t); }
  void SetMACText(const std::u16string& t) override { Log("mac", t); }
  void SetVendorText(const std::u16string& t) override { Log("vendor", t); }
  QStringList log;

 private:
  void Log(const char* box, const std::u16string& text) {
    log << QString("%1=%2").arg(box, QString::fromStdU16String(text));
  }
  std::u16string ip_;
};

class WindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<frmMAC> window_;
  QLineEdit* ip_ = nullptr;
  QLineEdit* mac_ = nullptr;
  QLineEdit* vendor_ = nullptr;
  QPushButton* button_ = nullptr;

  template <typename T>
  T* Child(const char* name) {
    T* child = window_->findChild<T*>(name);
    if (child == nullptr) qFatal("no control %s", name);
    return child;
  }

  void Press() { QTest::mouseClick(button_, Qt::LeftButton); }

 private slots:
  void initTestCase() {
    QTemporaryDir dir;
    QFile file(dir.filePath("oui.ieee"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(kTable);
    file.close();
    QVERIFY(
        !norvane::ReadTable(file.fileName().toStdString(), norvane::OUIList));
  }

  void init() {
    queried.clear();
    window_ = std::make_unique<frmMAC>(kFakePlatform);
    ip_ = Child<QLineEdit>("txtIP");
    mac_ = Child<QLineEdit>("txtMAC");
    vendor_ = Child<QLineEdit>("txtVendor");
    button_ = Child<QPushButton>("cmdRetreive");
    window_->show();
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  }

  void cleanup() { window_.reset(); }

  void clickWritesInOrder() {
    RecordingBoxes prompt(u"");
    norvane::cmdRetreive_Click(prompt, kFakePlatform);
    QCOMPARE(prompt.log,
             QStringList({"ip=" + Q(kPromptText), "mac=", "vendor="}));

    RecordingBoxes query(u"198.51.100.7");
    norvane::cmdRetreive_Click(query, kFakePlatform);
    QCOMPARE(query.log, QStringList({"mac=00-0C-29-3A-4B-5C",
                                     "vendor=Example Cards Ltd"}));
  }

  void click_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("mac");
    QTest::addColumn<QString>("vendor");
    QTest::addColumn<bool>("queries");
    const QString prompt = Q(kPromptText);
    const QString error = Q(kQueryErrorText);
    QTest::newRow("empty") << "" << prompt << ""
                           << "" << false;
    QTest::newRow("prompt") << prompt << prompt << ""
                            << "" << false;
    QTest::newRow("prompt, other case")
        << "sila masukkan ip!"
        << "sila masukkan ip!" << error << "" << true;
    QTest::newRow("prompt, trailing blank")
        << prompt + " " << prompt + " " << error << "" << true;
    QTest::newRow("blanks only") << "   "
                                 << "   " << error << "" << true;
    QTest::newRow("no answer") << "198.51.100.9"
                               << "198.51.100.9" << error << "" << true;
    QTest::newRow("known vendor") << "198.51.100.7"
                                  << "198.51.100.7"
                                  << "00-0C-29-3A-4B-5C"
                                  << "Example Cards Ltd" << true;
    QTest::newRow("unknown vendor") << "198.51.100.8"
                                    << "198.51.100.8"
                                    << "02-00-5E-10-00-01"
                                    << "" << true;
  }

  void click() {
    QFETCH(QString, typed);
    QFETCH(QString, ip);
    QFETCH(QString, mac);
    QFETCH(QString, vendor);
    QFETCH(bool, queries);
    mac_->setText("stale");
    vendor_->setText("stale");
    ip_->clear();
    QTest::keyClicks(ip_, typed);
    Press();
    QCOMPARE(ip_->text(), ip);
    QCOMPARE(mac_->text(), mac);
    QCOMPARE(vendor_->text(), vendor);
    QCOMPARE(queried, queries ? QStringList{typed} : QStringList{});
    // The same again without editing: the same results, still no query for
    // the prompt.
    Press();
    QCOMPARE(ip_->text(), ip);
    QCOMPARE(mac_->text(), mac);
    QCOMPARE(queried.size(), queries ? 2 : 0);
  }

  void resultsStayUntilNextClick() {
    ip_->setText("198.51.100.7");
    Press();
    QCOMPARE(cursor_during_query, Qt::WaitCursor);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QTest::keyClicks(ip_, "0");
    QCOMPARE(mac_->text(), "00-0C-29-3A-4B-5C");
    QCOMPARE(vendor_->text(), "Example Cards Ltd");
    ip_->setText("198.51.100.8");
    Press();
    QCOMPARE(mac_->text(), "02-00-5E-10-00-01");
    QCOMPARE(vendor_->text(), "");
  }

  void tabOrder() {
    QCOMPARE(QApplication::focusWidget(), ip_);
    const QList<QWidget*> chain{button_, mac_, vendor_, ip_, button_};
    for (QWidget* expected : chain) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), expected);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), ip_);
    for (QLabel* label : window_->findChildren<QLabel*>()) {
      QCOMPARE(label->focusPolicy(), Qt::NoFocus);
    }
  }

  void enterAndEscapePressNothing() {
    ip_->setText("198.51.100.7");
    for (QWidget* box : {ip_, mac_, vendor_}) {
      box->setFocus();
      for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(box, key);
      }
    }
    QVERIFY(queried.isEmpty());
    QCOMPARE(mac_->text(), "");
    QVERIFY(window_->isVisible());
    QVERIFY(!button_->isDefault());
    QVERIFY(!button_->autoDefault());
  }

  void readOnlyBoxes() {
    ip_->setText("198.51.100.7");
    Press();  // the program's own writes succeed
    const QString mac = mac_->text();
    QCOMPARE(mac, "00-0C-29-3A-4B-5C");
    QApplication::clipboard()->setText("pasted");
    for (QLineEdit* box : {mac_, vendor_}) {
      const QString before = box->text();
      QTest::mouseClick(box, Qt::LeftButton);
      QCOMPARE(QApplication::focusWidget(), box);
      QTest::keyClicks(box, "typed");
      QTest::keyClick(box, Qt::Key_Backspace);
      QTest::keyClick(box, Qt::Key_Delete);
      QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
      QTest::keyClick(box, Qt::Key_X, Qt::ControlModifier);
      QCOMPARE(box->text(), before);
    }
    mac_->setFocus();
    QTest::keyClick(mac_, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(mac_->selectedText(), mac);
    QTest::keyClick(mac_, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), mac);
  }

  void layoutTable() {
    QCOMPARE(window_->windowTitle(), "        Norvane v1.0");
    QCOMPARE(window_->size(), QSize(271, 197));
    QCOMPARE(window_->minimumSize(), window_->maximumSize());
    QVERIFY(window_->windowIcon().availableSizes().contains(QSize(16, 16)));
    QVERIFY(window_->windowIcon().availableSizes().contains(QSize(48, 48)));

    const bool has_tahoma = QFontDatabase::hasFamily("Tahoma");
    const QString face = has_tahoma ? "Tahoma" : norvane::qt::kFallbackFace;
    QList<QRect> boxes;
    for (const layout::Control& c : layout::kControls) {
      QWidget* w = Child<QWidget>(c.name.data());
      const QRect table(c.left / 15, c.top / 15, c.width / 15, c.height / 15);
      QCOMPARE(w->pos(), table.topLeft());
      if (c.fit == layout::Fit::kToCaption) {
        const auto* label = qobject_cast<QLabel*>(w);
        QCOMPARE(w->size(), label->sizeHint());
        QCOMPARE(w->height(), QFontMetrics(w->font()).height());
      } else {
        QCOMPARE(w->size(), table.size());
      }
      boxes << w->geometry();
      if (c.font == layout::Font::kDefault) {
        QVERIFY(!w->testAttribute(Qt::WA_SetFont));
        QCOMPARE(w->font(), window_->font());
      } else {
        const layout::FontSpec& spec = c.font == layout::Font::kTitle
                                           ? layout::kTitleFont
                                           : layout::kAddressFont;
        const QFont f = w->font();
        QCOMPARE(f.families().value(0), "Tahoma");
        QCOMPARE(QFontInfo(f).family(), face);
        QCOMPARE(f.pointSizeF(), spec.points);
        QCOMPARE(f.bold(), spec.bold);
        QVERIFY(!f.italic() && !f.underline() && !f.strikeOut());
      }
      if (auto* label = qobject_cast<QLabel*>(w);
          label && c.kind != layout::Kind::kImage) {
        QCOMPARE(label->text(), Q(c.text));
        QCOMPARE(
            label->alignment() & Qt::AlignHorizontal_Mask,
            c.fit == layout::Fit::kCentred ? Qt::AlignHCenter : Qt::AlignLeft);
        // Every caption fits its box on one line.
        QVERIFY(QFontMetrics(label->font()).horizontalAdvance(label->text()) <=
                label->width());
      }
      if (auto* box = qobject_cast<QLineEdit*>(w)) {
        QCOMPARE(box->text(), Q(c.text));
        QCOMPARE(box->isReadOnly(), c.read_only);
        QCOMPARE(box->focusPolicy(), Qt::StrongFocus);
      }
      if (auto* button = qobject_cast<QPushButton*>(w)) {
        QCOMPARE(button->text(), Q(c.text));
      }
    }
    for (int i = 0; i < boxes.size(); ++i) {
      for (int j = i + 1; j < boxes.size(); ++j) {
        QVERIFY2(!boxes[i].intersects(boxes[j]),
                 qPrintable(QString("%1 overlaps %2")
                                .arg(layout::kControls[i].name.data())
                                .arg(layout::kControls[j].name.data())));
      }
    }
    // The web address's box runs two pixels past the right edge.
    QCOMPARE(Child<QLabel>("Label4")->geometry().right(), 272);

    // The logo at its natural size, the 32-bit image with its alpha channel.
    const QPixmap logo = Child<QLabel>("Image1")->pixmap();
    QCOMPARE(logo.size(), QSize(48, 48));
    QVERIFY(logo.hasAlphaChannel());
    QVERIFY(!Child<QLabel>("Image1")->hasScaledContents());
  }

  void tableErrorBox() {
    bool checked = false;
    AnswerNextBox([&checked](QMessageBox& box) {
      QCOMPARE(box.text(), "Critical Error! oui.ieee not found!");
      QCOMPARE(box.windowTitle(), "ERROR: Can't Find File");
      QCOMPARE(box.icon(), QMessageBox::Critical);
      QCOMPARE(box.standardButtons(), QMessageBox::Ok);
      QCOMPARE(box.buttons().size(), 1);
      QVERIFY(box.isModal());
      checked = true;
    });
    norvane::qt::ShowTableError(
        {u"Critical Error! oui.ieee not found!", u"ERROR: Can't Find File"});
    QVERIFY(checked);
  }

  void missingTableEndsProgram() {
    QTemporaryDir empty;
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {"--missing-table", empty.path()});
    QVERIFY(child.waitForFinished(30000));
    const QString out = child.readAllStandardOutput();
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), norvane::kTableExitStatus);
    QCOMPARE(out, QString("box: ERROR: Can't Find File|Critical Error! "
                          "oui.ieee not found!|%1|1|windows 0\n")
                      .arg(int(QMessageBox::Critical)));
  }
};

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  if (argc == 3 && std::string_view(argv[1]) == "--missing-table") {
    return MissingTableStart(argv[2]);
  }
  QApplication app(argc, argv);
  WindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_test.moc"
