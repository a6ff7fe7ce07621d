#include "frmMAC.h"

#include <QApplication>
#include <QFont>
#include <QInputEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <array>
#include <chrono>
#include <limits>
#include <map>
#include <utility>

#include "form.h"
#include "icon_images.h"
#include "layout.h"

namespace {

namespace layout = norvane::layout;

// Each caption label names the box below it for assistive technology; no
// caption has an access key, so nothing visible changes.
constexpr std::pair<layout::Id, layout::Id> kCaptionOf[] = {
    {layout::kLabel1, layout::kTxtIP},
    {layout::kLabel3, layout::kTxtMAC},
    {layout::kLabel2, layout::kTxtVendor}};

constexpr char kLogoDescription[] = "The Velmora Networks logo";

// The events a user gives with the mouse or the keyboard.
bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
      return true;
    default:
      return false;
  }
}

QString ToQString(std::u16string_view text) {
  return QString(reinterpret_cast<const QChar*>(text.data()),
                 static_cast<qsizetype>(text.size()));
}

QRect PixelRect(const layout::Control& c) {
  return {layout::Pixels(c.left), layout::Pixels(c.top),
          layout::Pixels(c.width), layout::Pixels(c.height)};
}

QFont LabelFont(const layout::FontSpec& style) {
  QFont font;
  font.setFamilies({ToQString(style.face), norvane::qt::kFallbackFace});
  font.setPointSizeF(style.points);
  font.setBold(style.bold);
  return font;
}

// The click logic's view of the three text boxes. Texts written into the
// boxes are shown from their start, as an edit box shows a new text.
class LineEditBoxes : public norvane::FormBoxes {
 public:
  LineEditBoxes(QLineEdit& ip, QLineEdit& mac, QLineEdit& vendor)
      : ip_(ip), mac_(mac), vendor_(vendor) {}
  std::u16string IPText() const override { return ip_.text().toStdU16String(); }
  void SetIPText(const std::u16string& text) override { Set(ip_, text); }
  void SetMACText(const std::u16string& text) override { Set(mac_, text); }
  void SetVendorText(const std::u16string& text) override {
    Set(vendor_, text);
  }

 private:
  static void Set(QLineEdit& box, const std::u16string& text) {
    box.setText(QString::fromStdU16String(text));
    box.setCursorPosition(0);
  }
  QLineEdit& ip_;
  QLineEdit& mac_;
  QLineEdit& vendor_;
};

// Shows the busy cursor for as long as it lives.
class BusyCursor {
 public:
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace

frmMAC::frmMAC(const norvane::AddressPlatform& platform, QWidget* parent)
    : QWidget(parent), platform_(platform) {
  setObjectName("frmMAC");
  setWindowTitle(ToQString(layout::kCaption));
  setWindowIcon(norvane::qt::DeepestIcon(":/norvane.ico"));
  QFont font = QApplication::font();
  font.setPointSizeF(norvane::qt::kWindowFontPoints);
  setFont(font);
  setFixedSize(layout::Pixels(layout::kClientWidth),
               layout::Pixels(layout::kClientHeight));

  std::map<int, QWidget*> tab_order;
  std::array<QWidget*, layout::kControlCount> widgets{};
  for (const layout::Control& c : layout::kControls) {
    QWidget* widget = nullptr;
    const QString text = ToQString(c.text);
    switch (c.kind) {
      case layout::Kind::kImage: {
        auto* image = new QLabel(this);
        image->setPixmap(QPixmap::fromImage(
            norvane::qt::IconImage(":/logo.ico", layout::kLogoImageSize)));
        image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        image->setAccessibleDescription(kLogoDescription);
        widget = image;
        break;
      }
      case layout::Kind::kLabel: {
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        if (c.font == layout::Font::kTitle) {
          label->setFont(LabelFont(layout::kTitleFont));
        } else if (c.font == layout::Font::kAddress) {
          label->setFont(LabelFont(layout::kAddressFont));
        }
        label->setAlignment(c.fit == layout::Fit::kCentred
                                ? Qt::AlignHCenter | Qt::AlignTop
                                : Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
      }
      case layout::Kind::kTextBox: {
        auto* box = new QLineEdit(text, this);
        box->setReadOnly(c.read_only);
        // No length limit, for the user's typing and the program's writes.
        box->setMaxLength(std::numeric_limits<int>::max());
        box->setCursorPosition(0);
        widget = box;
        break;
      }
      case layout::Kind::kButton: {
        auto* button = new QPushButton(text, this);
        button->setAutoDefault(false);
        button->setDefault(false);
        connect(button, &QPushButton::clicked, this,
                &frmMAC::cmdRetreive_Click);
        widget = button;
        break;
      }
    }
    widget->setObjectName(QString::fromLatin1(c.name));
    widgets[static_cast<std::size_t>(&c - layout::kControls.data())] = widget;
    widget->setGeometry(PixelRect(c));
    if (c.fit == layout::Fit::kToCaption) widget->adjustSize();
    if (c.tab != layout::kNoTab) tab_order[c.tab] = widget;
  }

  // Labels hold places in the order but never take the focus, so only the
  // four that can are chained; the chain wraps from the last to the first.
  QWidget* previous = nullptr;
  for (const auto& [tab, widget] : tab_order) {
    if (widget->focusPolicy() == Qt::NoFocus) continue;
    if (previous != nullptr) setTabOrder(previous, widget);
    previous = widget;
  }

  for (const auto& [label, box] : kCaptionOf) {
    static_cast<QLabel*>(widgets[label])->setBuddy(widgets[box]);
  }

  txtIP_ = static_cast<QLineEdit*>(widgets[layout::kTxtIP]);
  txtMAC_ = static_cast<QLineEdit*>(widgets[layout::kTxtMAC]);
  txtVendor_ = static_cast<QLineEdit*>(widgets[layout::kTxtVendor]);
  txtIP_->setFocus();
  QApplication::instance()->installEventFilter(this);
}

bool frmMAC::eventFilter(QObject* watched, QEvent* event) {
  if (IsUserInput(event->type())) {
    // Synthesised events without a time pass untouched.
    const quint64 time = static_cast<QInputEvent*>(event)->timestamp();
    if (time != 0) {
      if (busy_until_ != 0 && std::chrono::steady_clock::now() - query_ended_ >
                                  std::chrono::seconds(1)) {
        busy_until_ = 0;
      }
      if (busy_until_ != 0) {
        // Window systems count milliseconds in 32 bits, which wrap after 49
        // days: compare the distance, and stop comparing at the first event
        // given after the query.
        const auto after = static_cast<qint32>(
            static_cast<quint32>(time) - static_cast<quint32>(busy_until_));
        if (after <= 0) return true;
        busy_until_ = 0;
      }
      last_input_time_ = time;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void frmMAC::cmdRetreive_Click() {
  // The query blocks the event loop; what the user does meanwhile waits in
  // the queue. It happened between the click's time and that time plus the
  // query's length, and is dropped when the loop resumes.
  const quint64 clicked_at = last_input_time_;
  const auto start = std::chrono::steady_clock::now();
  {
    LineEditBoxes boxes(*txtIP_, *txtMAC_, *txtVendor_);
    BusyCursor busy;
    norvane::cmdRetreive_Click(boxes, platform_);
  }
  if (clicked_at != 0) {
    const auto took = std::chrono::ceil<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    busy_until_ = clicked_at + static_cast<quint64>(took.count());
    query_ended_ = std::chrono::steady_clock::now();
  }
}
