#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>

#include "platform/qt/backend.h"
#include "platform/window.h"

namespace platform::qt {

IconTable& Icons() {
  static IconTable table;
  return table;
}

std::uint32_t IconTable::Add(const QIcon& icon) {
  while (next_ == 0 || entries_.contains(next_)) ++next_;
  const std::uint32_t handle = next_++;
  entries_[handle] = {icon, 1};
  return handle;
}

bool IconTable::Hold(std::uint32_t handle) {
  const auto it = entries_.find(handle);
  if (it == entries_.end()) return false;
  ++it->second.holders;
  return true;
}

void IconTable::Release(std::uint32_t handle) {
  auto it = entries_.find(handle);
  if (it != entries_.end() && --it->second.holders <= 0) entries_.erase(it);
}

QIcon IconTable::Find(std::uint32_t handle) const {
  const auto it = entries_.find(handle);
  return it == entries_.end() ? QIcon() : it->second.icon;
}

QIcon LoadIconFile(const QString& path) {
  auto failure = [&path](const QString& why) {
    return RuntimeError("the icon file \"" + path.toStdString() +
                        "\" cannot be loaded: " + why.toStdString());
  };
  if (path.isEmpty()) throw failure("no file name was given");
  // An empty icon name in the settings leaves only the program's folder.
  if (QFileInfo(path).isDir()) throw failure("it is a folder, not a file");
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) throw failure(file.errorString());

  QImageReader reader(&file, "ico");
  QIcon icon;
  const int count = reader.imageCount();
  for (int i = 0; i < count; ++i) {
    if (!reader.jumpToImage(i)) break;
    const QImage image = reader.read();
    if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
  }
  if (icon.isNull()) throw failure("it is not an icon (.ico) file");
  return icon;
}

}  // namespace platform::qt
