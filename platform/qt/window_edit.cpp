#include <QFontMetricsF>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <utility>

#include "platform/qt/window_form.h"

namespace platform::qt {
namespace {

// About what an edit control leaves between its border and its text.
constexpr int kLogMargin = 2;

// The design was drawn for an 8-point UI font, and its log box shows a usual line (the time and
// a five-digit status) on one row; the desktop's font is larger (DejaVu Sans 9 would wrap every
// not-answered line). The boxes keep the desktop's family, semi-condensed where it has such a
// face, at the largest size up to 8 points at which that line fits `width` pixels.
QFont BoxFont(QFont font, qreal width) {
  font.setStretch(QFont::SemiCondensed);
  for (qreal points = 8; points > 6; points -= 0.5) {
    font.setPointSizeF(points);
    if (QFontMetricsF(font).horizontalAdvance(QString::fromUtf8(kUsualLogLine)) <= width) break;
  }
  return font;
}

}  // namespace

QtEditBox::QtEditBox(const EditDesign& design, const char* name, std::function<void()> build)
    : design_(design), name_(name), build_(std::move(build)) {}

void QtEditBox::Build(QWidget* parent) {
  if (Widget() != nullptr) return;
  QWidget* widget = nullptr;
  if (design_.multi_line) {
    log_ = new QPlainTextEdit(parent);
    log_->setVerticalScrollBarPolicy(design_.vertical_scroll_bar ? Qt::ScrollBarAlwaysOn
                                                                 : Qt::ScrollBarAsNeeded);
    log_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    log_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    log_->setTabChangesFocus(true);
    widget = log_;
  } else {
    line_ = new QLineEdit(parent);
    widget = line_;
  }
  widget->setObjectName(name_);
  widget->setGeometry(DesignPixels(design_.left), DesignPixels(design_.top),
                      DesignPixels(design_.width), DesignPixels(design_.height));
  if (log_) {
    log_->document()->setDocumentMargin(kLogMargin);
    parent->setFont(
        BoxFont(parent->font(), log_->maximumViewportSize().width() - 2.0 * kLogMargin));
  }
  if (!text_.empty()) SetText(std::exchange(text_, {}));
  if (color_) Apply(*color_);
}

QWidget* QtEditBox::Widget() const {
  return line_ ? static_cast<QWidget*>(line_) : static_cast<QWidget*>(log_);
}

std::wstring QtEditBox::Text() const {
  // What a box reads back is what Qt made of the text (a log box ends lines its own way).
  if (Widget() == nullptr) build_();
  if (line_) return line_->text().toStdWString();
  QString text = log_->document()->toRawText();
  text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
  return text.toStdWString();
}

void QtEditBox::SetText(const std::wstring& text) {
  // The document takes CR LF as one line end.
  if (line_) {
    line_->setText(QString::fromStdWString(text));
  } else if (log_) {
    log_->setPlainText(QString::fromStdWString(text));
  } else {
    text_ = text;
  }
}

void QtEditBox::SetBackColor(std::uint32_t color) {
  if (Widget() == nullptr) {
    color_ = color;
  } else {
    Apply(color);
  }
}

void QtEditBox::Apply(std::uint32_t color) {
  // A log box paints its background through its viewport. Recolouring only that keeps the
  // scroll bar's palette, and with it the style's cached scroll-bar pictures: recolouring the
  // whole box would add new ones at every change, for weeks.
  QWidget* widget = log_ ? log_->viewport() : Widget();
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Base, QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF));
  widget->setPalette(palette);
}

}  // namespace platform::qt
