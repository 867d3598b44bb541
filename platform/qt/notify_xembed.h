#pragma once
// A tray entry for the X trays that take a small window of the program's own into themselves
// (the system tray protocol over XEmbed: trayer, xfce4-panel, ...).
//
// Qt's own tray icon does the same, but first asks the session bus whether a StatusNotifierItem
// host is there, and waits for the answer: a host still starting at login held korvi for 25 s.
// This one asks the X server only, which korvi's window needs anyway.

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

namespace platform::qt {

class XEmbedEntry final : public QWidget {
 public:
  // `click` receives the mouse message code of each click (514, 515, 517 or 520).
  explicit XEmbedEntry(std::function<void(std::uint32_t)> click);
  ~XEmbedEntry() override;

  void SetIcon(const QIcon& icon);
  void SetTip(const QString& tip);
  // Whether an X tray is there to take an entry now.
  static bool TrayShown();

  // The tray came or went; the entry goes into the new one.
  void TrayChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  std::function<void(std::uint32_t)> click_;
  QIcon icon_;
  // The tray's own background behind the entry, where the tray's windows have no alpha.
  QPixmap background_;
};

}  // namespace platform::qt
