#include "platform/qt/window_form.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QMoveEvent>
#include <QScreen>
#include <QThread>
#include <QWindow>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/common/window_on_screen.h"
#include "platform/common/window_position.h"
#include "platform/qt/backend.h"

namespace platform::qt {
namespace {

// What a close waits at most for Qt to learn of the window's last move.
constexpr int kCatchUpMs = 250;

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
  void moveEvent(QMoveEvent* event) override {
    QWidget::moveEvent(event);
    owner_.Moved();
  }

 private:
  QtForm& owner_;
};
}  // namespace

bool PositionKnown() {
  return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
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
  if (!PositionKnown()) return asked_top_;
  return static_cast<float>(window_->y() * kTwipsPerPixel);
}

void QtForm::SetTop(float twips) {
  Place({window_->x(), PositionPixels("top", twips)});
  asked_top_ = twips;
}

float QtForm::Left() const {
  if (!PositionKnown()) return asked_left_;
  return static_cast<float>(window_->x() * kTwipsPerPixel);
}

void QtForm::SetLeft(float twips) {
  Place({PositionPixels("left", twips), window_->y()});
  asked_left_ = twips;
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

namespace {

std::vector<ScreenArea> Screens() {
  std::vector<ScreenArea> screens;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect all = screen->geometry();
    const QRect work = screen->availableGeometry();
    screens.push_back({{all.x(), all.y(), all.width(), all.height()},
                       {work.x(), work.y(), work.width(), work.height()}});
  }
  return screens;
}

}  // namespace

void QtForm::KeepReachable() {
  if (!PositionKnown()) return;
  // Until a window manager has framed the window once, its frame is the window itself.
  const QRect frame = window_->frameGeometry();
  const int title = window_->geometry().top() - frame.top();
  if (const auto place = ReachablePlace({window_->x(), window_->y(), frame.width(), frame.height()},
                                        title, Screens())) {
    Place({place->left, place->top});
    // Its frame may not fit there: known only once the window manager drew it.
    if (title == 0) fit_when_framed_ = QPoint(place->left, place->top);
  }
}

void QtForm::Moved() {
  if (!fit_when_framed_ || window_->windowHandle()->frameMargins().isNull()) return;
  // From the place asked for, not the window's position now: while the window manager takes
  // the window into its frame, Qt may briefly hold the window's place inside the frame.
  const QPoint asked = *fit_when_framed_;
  fit_when_framed_.reset();
  const QRect frame = window_->frameGeometry();
  const PixelPoint place =
      NearestPlaceOnScreen({asked.x(), asked.y(), frame.width(), frame.height()}, Screens());
  if (QPoint(place.left, place.top) != window_->pos()) Place({place.left, place.top});
}

void QtForm::Show() {
  BuildBoxes();
  KeepReachable();
  // Unmapped by someone else (another program, a window manager's iconify), the window is
  // still visible to Qt, and show() alone would do nothing.
  if (window_->isVisible() && !window_->windowHandle()->isExposed()) window_->hide();
  window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void QtForm::CatchUpWithWindowSystem() {
  // A signal or the session's end comes outside the window system's stream, and Qt hears of a
  // move from an event that its reader thread may not have handed over yet: the close would
  // save where the window was before. The server says where it is; Qt is given a moment to
  // catch up with it.
  QGuiApplication::sync();
  if (!PositionKnown()) return;
  const std::optional<QPoint> server = ServerPosition(window_->winId());
  QWindow* handle = window_->windowHandle();
  if (!server || handle == nullptr) return;
  const qreal ratio = handle->devicePixelRatio();
  const int slack = static_cast<int>(std::ceil(ratio));  // a logical pixel, in device pixels
  const QDeadlineTimer deadline(kCatchUpMs);
  while ((handle->geometry().topLeft() * ratio - *server).manhattanLength() > slack &&
         !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(2);
  }
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
  CatchUpWithWindowSystem();
  std::int16_t cancel = 0;
  if (!CallHandler([events, &cancel] { events->Form_Unload(cancel); })) {
    // Closed while a failure's report is on screen: the report goes with the window.
    DismissReport();
    return true;
  }
  if (cancel != 0) return false;
  timer_->Run(false);
  events_ = nullptr;
  EndRun(0);
  return true;
}

}  // namespace platform::qt

namespace platform {
std::unique_ptr<Form> CreateForm(const FormDesign& design) {
  return std::make_unique<qt::QtForm>(design);
}
}  // namespace platform
