#include "frmMAC.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <array>
#include <limits>
#include <map>
#include <utility>

#include "form.h"
#include "icon_images.h"
#include "layout.h"

namespace {

namespace layout = norvane::layout;

// Eats the mouse and keyboard input delivered while it is installed.
class InputEater : public QObject {
 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    switch (event->type()) {
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
};

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
  font.setPointSizeF(layout::kWindowFontPoints);
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
        image->setAccessibleDescription(ToQString(layout::kLogoDescription));
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

  for (const auto& [label, box] : layout::kCaptions) {
    static_cast<QLabel*>(widgets[label])->setBuddy(widgets[box]);
  }

  txtIP_ = static_cast<QLineEdit*>(widgets[layout::kTxtIP]);
  txtMAC_ = static_cast<QLineEdit*>(widgets[layout::kTxtMAC]);
  txtVendor_ = static_cast<QLineEdit*>(widgets[layout::kTxtVendor]);
  txtIP_->setFocus();
}

void frmMAC::cmdRetreive_Click() {
  {
    LineEditBoxes boxes(*txtIP_, *txtMAC_, *txtVendor_);
    BusyCursor busy;
    norvane::cmdRetreive_Click(boxes, platform_);
  }
  // The query blocked the event loop: what the user did meanwhile waits in
  // the queue. It is delivered now and dropped, so that impatient clicks do
  // not each run another query.
  InputEater eater;
  QCoreApplication::instance()->installEventFilter(&eater);
  QCoreApplication::processEvents();
  QCoreApplication::instance()->removeEventFilter(&eater);
}
