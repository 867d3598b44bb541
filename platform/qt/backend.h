#pragma once
// What the pieces of the Qt backend share with each other (and with its tests).

#include <QIcon>
#include <QSocketNotifier>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

struct xcb_connection_t;

namespace platform::qt {

// korvi's connection to the X server, or nullptr where it runs on another platform.
xcb_connection_t* X11();
// The atom of `name` on that connection, made when missing.
std::uint32_t X11Atom(const char* name);

// Loaded icons by the 32-bit handle the program passes around. Every user of a handle (a
// window, a tray entry) holds it; a handle nobody holds is freed, so a program that switches
// icons every few seconds for weeks keeps a table of two or three entries.
class IconTable {
 public:
  // The new handle is held once, by the caller.
  std::uint32_t Add(const QIcon& icon);
  // False for a handle that is not in the table: there is nothing to hold.
  bool Hold(std::uint32_t handle);
  void Release(std::uint32_t handle);
  // A null icon for a handle that is not in the table.
  QIcon Find(std::uint32_t handle) const;
  std::size_t Size() const { return entries_.size(); }
  void Clear() { entries_.clear(); }

 private:
  struct Entry {
    QIcon icon;
    int holders = 0;
  };
  std::map<std::uint32_t, Entry> entries_;
  std::uint32_t next_ = 1;
};
IconTable& Icons();

// Every image of the .ico file at `path`; a RuntimeError naming the file and the reason when
// it cannot be loaded as an icon.
QIcon LoadIconFile(const QString& path);

// The window whose handle is `hwnd` receives `message` with `param`; dropped when there is no
// such window.
void DeliverWindowMessage(std::uint32_t hwnd, std::uint32_t message, std::uint32_t param);

// Removes the tray entries of the window `hwnd`, or every entry when `hwnd` is 0.
void RemoveTrayEntries(std::uint32_t hwnd);
std::size_t TrayEntryCount();
// Starts asking the session bus where tray entries go, for the first entry to find the answer.
void AskTrayHosts();
// The tray entry's window hears of a click with the mouse code `code`, as from the entry.
void ClickTrayEntry(std::uint32_t hwnd, std::uint32_t id, std::uint32_t code);

// Runs one of the program's handlers. A failure stops the run: ticks stop, the user gets the
// report, the tray entries go and the run ends with status 1. Returns false after a failure,
// and from then on runs no handler at all.
bool CallHandler(const std::function<void()>& handler);
// Ends the run with `status` once the program's handlers are done.
void EndRun(int status);
// Closes a failure's report that is on screen, so that the failed run ends now.
void DismissReport();

// While it lives, SIGINT, SIGTERM and SIGHUP close every window as the user would, once. Made
// before the application object, it keeps the requests until Listen() can act on them.
class EndRequests {
 public:
  EndRequests();
  // Once the application object exists.
  void Listen();
  ~EndRequests();
  EndRequests(const EndRequests&) = delete;
  EndRequests& operator=(const EndRequests&) = delete;

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
};

// The Qt platform to force before the application starts, or "" to leave Qt's choice. `env`
// reads an environment variable (nullptr when unset).
std::string ForcedPlatform(const std::function<const char*(const char*)>& env);

}  // namespace platform::qt
