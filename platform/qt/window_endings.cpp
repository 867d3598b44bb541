// Requests from outside to end the program: SIGINT (Ctrl+C), SIGTERM and SIGHUP, taken as the
// user closing the window, so that the position is saved and the tray entry goes. (The session
// manager's end of the session needs nothing here: Qt closes every window when it is told to
// quit.)
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <memory>

#include "platform/qt/backend.h"
#include "platform/qt/window_form.h"

namespace platform::qt {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
int wake[2] = {-1, -1};

// A signal can come in the middle of anything: the handler only wakes the event loop.
void OnSignal(int) {
  const int saved = errno;
  const char byte = 0;
  [[maybe_unused]] const ssize_t written = write(wake[1], &byte, 1);
  errno = saved;
}

void CloseEverything() {
  DismissReport();
  for (auto& [hwnd, form] : Forms()) {
    if (form->Closing()) form->Window().hide();
  }
}

}  // namespace

EndRequests::EndRequests() {
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return;
  // In place before anything that takes time: a signal during start-up waits in the pipe for
  // the event loop, and the run ends as a close, not by the signal.
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : kSignals) sigaction(number, &action, nullptr);
}

void EndRequests::Listen() {
  if (wake[0] < 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(wake[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [] {
    char drained[64];
    while (read(wake[0], drained, sizeof drained) > 0) {
    }
    CloseEverything();
  });
}

EndRequests::~EndRequests() {
  // The run is ending: a further request changes nothing, and must not end the process by the
  // signal's default action before it ends with its own status.
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  for (int number : kSignals) sigaction(number, &action, nullptr);
  notifier_.reset();
  for (int& fd : wake) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

}  // namespace platform::qt
