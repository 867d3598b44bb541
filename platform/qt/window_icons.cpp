#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>
#include <map>
#include <span>

#include "platform/qt/backend.h"
#include "platform/qt/ico_file.h"
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

namespace {

QIcon ReadIconFile(const QString& path);

// The same file gives the same icon object for as long as the file stays as it was: Qt keys
// its cached renderings of an icon by the object, so a fresh object at every change of
// appearance would add renderings for as long as korvi runs.
struct Loaded {
  QDateTime modified;
  qint64 size = 0;
  QIcon icon;
};

}  // namespace

QIcon LoadIconFile(const QString& path) {
  static std::map<QString, Loaded> loaded;
  const QFileInfo info(path);
  if (const auto it = loaded.find(path); it != loaded.end() && info.isFile() &&
                                         it->second.modified == info.lastModified() &&
                                         it->second.size == info.size()) {
    return it->second.icon;
  }
  QIcon icon = ReadIconFile(path);
  // Only a few files are ever named; a stray path each time must not grow the map.
  if (loaded.size() >= 8) loaded.clear();
  loaded[path] = {info.lastModified(), info.size(), icon};
  return icon;
}

namespace {

QIcon ReadIconFile(const QString& path) {
  auto failure = [&path](const QString& why) {
    return RuntimeError("the icon file \"" + path.toStdString() +
                        "\" cannot be loaded: " + why.toStdString());
  };
  if (path.isEmpty()) throw failure("no file name was given");
  // An empty icon name in the settings leaves only the program's folder.
  if (QFileInfo(path).isDir()) throw failure("it is a folder, not a file");
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) throw failure(file.errorString());
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) throw failure(file.errorString());

  QIcon icon;
  const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                           static_cast<std::size_t>(bytes.size()));
  if (const auto pictures = ReadIconPictures(data)) {
    for (const IconPicture& picture : *pictures) {
      if (!picture.png.empty()) {
        const QImage image = QImage::fromData(picture.png, "PNG");
        if (image.isNull()) throw failure("a PNG picture in it cannot be read");
        icon.addPixmap(QPixmap::fromImage(image));
        continue;
      }
      // The picture's pixels are only borrowed: the pixmap gets a copy of its own.
      const QImage image(reinterpret_cast<const uchar*>(picture.pixels.data()), picture.width,
                         picture.height, picture.width * 4, QImage::Format_ARGB32);
      icon.addPixmap(QPixmap::fromImage(image.copy()));
    }
  } else if (const std::string fault = IconDirectoryFault(data); !fault.empty()) {
    throw failure("it is not an icon (.ico) file: " + QString::fromStdString(fault));
  } else {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    const int count = reader.imageCount();
    for (int i = 0; i < count; ++i) {
      if (!reader.jumpToImage(i)) break;
      const QImage image = reader.read();
      if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
    }
  }
  if (icon.isNull()) throw failure("it is not an icon (.ico) file");
  return icon;
}

}  // namespace

}  // namespace platform::qt

namespace platform {
void CheckIconFile(const std::wstring& path) {
  // Kept in the cache of loaded files: the first change of appearance finds it there.
  qt::LoadIconFile(QString::fromStdWString(path));
}
}  // namespace platform
