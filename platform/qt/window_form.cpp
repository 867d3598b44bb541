#include "platform/qt/window_form.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include <xcb/xcb.h>

#include "platform/qt/backend.h"

namespace platform::qt {
namespace {

// X keeps window coordinates in 16 signed bits.
constexpr double kMaxPixels = 32767;

std::map<std::uint32_t, QtForm*>& Forms() {
  static std::map<std::uint32_t, QtForm*> forms;
  return forms;
}

int DesignPixels(int twips) {
  return static_cast<int>(std::lround(twips / double(kTwipsPerPixel)));
}

int PositionPixels(float twips) {
  const double pixels = std::round(double(twips) / kTwipsPerPixel);
  if (!(std::abs(pixels) <= kMaxPixels)) {
    const int limit = static_cast<int>(kMaxPixels);
    throw RuntimeError("a window position must lie between -" +
                       std::to_string(limit * kTwipsPerPixel) + " and " +
                       std::to_string(limit * kTwipsPerPixel) + " twips (" + std::to_string(limit) +
                       " pixels either side of the screen's corner)");
  }
  return static_cast<int>(pixels);
}

class FormWindow final : public QWidget {
 public:
  explicit FormWindow(QtForm& owner)
      : QWidget(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowCloseButtonHint),
        owner_(owner) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (owner_.Closing()) {
      event->accept();
    } else {
      event->ignore();
    }
  }

 private:
  QtForm& owner_;
};

// A tool window stays out of the task bar and the pager. Window managers mostly skip utility
// windows anyway; the explicit states make it so for every task bar. Qt keeps states it does
// not manage itself when it maps the window.
void SkipTaskBar(WId window) {
  const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr) return;
  xcb_connection_t* connection = x11->connection();
  const auto atom = [connection](const char* name) {
    const auto cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    free(reply);
    return found;
  };
  const xcb_atom_t state = atom("_NET_WM_STATE");
  const xcb_atom_t skip[] = {atom("_NET_WM_STATE_SKIP_TASKBAR"), atom("_NET_WM_STATE_SKIP_PAGER")};
  if (state == XCB_ATOM_NONE || skip[0] == XCB_ATOM_NONE || skip[1] == XCB_ATOM_NONE) return;
  xcb_change_property(connection, XCB_PROP_MODE_APPEND, static_cast<xcb_window_t>(window), state,
                      XCB_ATOM_ATOM, 32, 2, skip);
  xcb_flush(connection);
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

QtTimer::QtTimer(std::int32_t interval, bool enabled) : interval_(interval), enabled_(enabled) {}

void QtTimer::SetInterval(std::int32_t milliseconds) {
  if (milliseconds < 0) {
    throw RuntimeError("a timer interval must be 0 (stopped) or a positive number of ms");
  }
  interval_ = milliseconds;
  Apply();
}

void QtTimer::Run(bool running) {
  running_ = running;
  Apply();
}

void QtTimer::Apply() {
  if (running_ && enabled_ && interval_ > 0) {
    timer_.start(interval_);
  } else {
    timer_.stop();
  }
}

QtForm::QtForm(const FormDesign& design) : window_(std::make_unique<FormWindow>(*this)) {
  window_->setWindowTitle(QString::fromStdWString(design.caption));
  window_->setFixedSize(DesignPixels(design.client_width), DesignPixels(design.client_height));
  text1_first_ = design.text1.tab_index <= design.text2.tab_index;
  text1_ = std::make_unique<QtEditBox>(design.text1, "Text1", [this] { BuildBoxes(); });
  text2_ = std::make_unique<QtEditBox>(design.text2, "Text2", [this] { BuildBoxes(); });

  timer_ = std::make_unique<QtTimer>(design.timer_interval, design.timer_enabled);
  QObject::connect(&timer_->Ticker(), &QTimer::timeout, [this] {
    if (FormEvents* events = events_) CallHandler([events] { events->Timer1_Timer(); });
  });

  SetIcon(LoadIconFile(QStringLiteral(":/korvi/korvi-neutral.ico")));
  // X window ids fit in 29 bits.
  hwnd_ = static_cast<std::uint32_t>(window_->winId());
  SkipTaskBar(window_->winId());
  Forms()[hwnd_] = this;
}

QtForm::~QtForm() {
  timer_->Run(false);
  RemoveTrayEntries(hwnd_);
  Forms().erase(hwnd_);
  Icons().Release(icon_);
}

void QtForm::BuildBoxes() {
  // Once only: showing the window again must not move the focus back.
  if (built_) return;
  built_ = true;
  // Tab visits the boxes in the order they were made (QWidget::setTabOrder cannot move a
  // box in front of a scroll area's parts).
  QtEditBox& first = text1_first_ ? *text1_ : *text2_;
  QtEditBox& second = text1_first_ ? *text2_ : *text1_;
  first.Build(window_.get());
  second.Build(window_.get());
  // Where the boxes overlap, the log box lies on top.
  text2_->Widget()->raise();
  first.Widget()->setFocus();
}

void QtForm::Place(QPoint frame) {
  // The window exists already (it has a handle from the start), and for such a window
  // QWidget::move places the client area: the window would creep down by its title bar at
  // every start under a window manager. Asking for the frame position as well makes the
  // window manager put the frame there; the move keeps QWidget's own idea of the position
  // in step, or showing the window would undo it.
  window_->move(frame);
  window_->windowHandle()->setFramePosition(frame);
}

float QtForm::Top() const {
  return static_cast<float>(window_->y() * kTwipsPerPixel);
}

void QtForm::SetTop(float twips) {
  Place({window_->x(), PositionPixels(twips)});
}

float QtForm::Left() const {
  return static_cast<float>(window_->x() * kTwipsPerPixel);
}

void QtForm::SetLeft(float twips) {
  Place({PositionPixels(twips), window_->y()});
}

std::wstring QtForm::Caption() const {
  return window_->windowTitle().toStdWString();
}

void QtForm::SetIconFromFile(const std::wstring& path) {
  SetIcon(LoadIconFile(QString::fromStdWString(path)));
}

void QtForm::SetIcon(const QIcon& icon) {
  const std::uint32_t handle = Icons().Add(icon);
  Icons().Release(icon_);
  icon_ = handle;
  window_->setWindowIcon(icon);
}

void QtForm::Show() {
  BuildBoxes();
  // Unmapped by someone else (another program, a window manager's iconify), the window is
  // still visible to Qt, and show() alone would do nothing.
  if (window_->isVisible() && !window_->windowHandle()->isExposed()) window_->hide();
  window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void QtForm::Deliver(std::uint32_t message, std::uint32_t param) {
  constexpr std::uint32_t kMouseMove = 512;
  FormEvents* events = events_;
  if (message != kMouseMove || events == nullptr) return;
  // The mouse message code arrives as a horizontal position in pixels.
  const float x = static_cast<float>((param & 0xFFFF) * kTwipsPerPixel);
  CallHandler([events, x] { events->Form_MouseMove(0, 0, x, 0); });
}

bool QtForm::Closing() {
  FormEvents* events = events_;
  if (events == nullptr) return true;
  std::int16_t cancel = 0;
  if (!CallHandler([events, &cancel] { events->Form_Unload(cancel); })) return true;
  if (cancel != 0) return false;
  timer_->Run(false);
  events_ = nullptr;
  EndRun(0);
  return true;
}

void DeliverWindowMessage(std::uint32_t hwnd, std::uint32_t message, std::uint32_t param) {
  if (auto it = Forms().find(hwnd); it != Forms().end()) it->second->Deliver(message, param);
}

void StopAllTimers() {
  for (auto& [hwnd, form] : Forms()) form->Ticks().Run(false);
}

}  // namespace platform::qt

namespace platform {
std::unique_ptr<Form> CreateForm(const FormDesign& design) {
  return std::make_unique<qt::QtForm>(design);
}
}  // namespace platform
