#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <span>
#include <vector>

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

// Qt's built-in PNG decoder, without first asking each image plugin whether the bytes are its
// own: that loads every plugin (GIF, ICO, JPEG with its library) for a format korvi never reads.
template <typename Use>
auto WithPngReader(const QByteArray& png, Use use) {
  QBuffer buffer;
  buffer.setData(png);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "png");
  reader.setAutoDetectImageFormat(false);
  return use(reader);
}
QImage DecodePng(const QByteArray& png) {
  return WithPngReader(png, [](QImageReader& reader) { return reader.read(); });
}
QSize PngSize(const QByteArray& png) {  // from the header alone
  return WithPngReader(png, [](QImageReader& reader) { return reader.size(); });
}

// The pictures of one icon file, each drawn at its own size. A PNG picture (the 256-pixel
// ones) is decoded only while a size that needs it is drawn: hosts draw 16 to 48 pixels, and
// kept decoded it would cost more memory than every other picture of korvi together.
class IconPictures final : public QIconEngine {
 public:
  void Add(const QPixmap& pixmap) { pictures_.push_back({pixmap.size(), pixmap, {}}); }
  void AddPng(QSize size, const QByteArray& png) { pictures_.push_back({size, {}, png}); }
  bool isNull() override { return pictures_.empty(); }

  // As Qt's own icons: the smallest picture at least as large as asked, else the largest,
  // never drawn larger than asked.
  QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
    const Picture* best = Best(size);
    if (best == nullptr) return {};
    QPixmap pixmap = best->png.isEmpty() ? best->pixmap : QPixmap::fromImage(DecodePng(best->png));
    // A PNG picture whose data is damaged past its header: the best bitmap stands in for it.
    if (pixmap.isNull() && (best = Best(size, true)) != nullptr) pixmap = best->pixmap;
    if (best == nullptr) return {};
    const QSize fit = Fit(*best, size);
    if (!pixmap.isNull() && pixmap.size() != fit) {
      pixmap = pixmap.scaled(fit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    return pixmap;
  }
  QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
    const Picture* best = Best(size);
    return best ? Fit(*best, size) : QSize();
  }
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    painter->drawPixmap(rect, pixmap(rect.size() * ratio, mode, state));
  }
  QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
    QList<QSize> sizes;
    for (const Picture& picture : pictures_) sizes << picture.size;
    return sizes;
  }
  QIconEngine* clone() const override { return new IconPictures(*this); }
  QString key() const override { return QStringLiteral("korvi-ico"); }

 private:
  struct Picture {
    QSize size;
    QPixmap pixmap;  // a bitmap's, decoded
    QByteArray png;  // a PNG picture's bytes, decoded when drawn
  };
  static QSize Fit(const Picture& picture, const QSize& size) {
    const QSize& own = picture.size;
    return own.width() <= size.width() && own.height() <= size.height()
               ? own
               : own.scaled(size, Qt::KeepAspectRatio);
  }
  const Picture* Best(const QSize& size, bool bitmaps_only = false) const {
    const Picture* best = nullptr;
    for (const Picture& picture : pictures_) {
      if (bitmaps_only && !picture.png.isEmpty()) continue;
      const bool covers =
          picture.size.width() >= size.width() && picture.size.height() >= size.height();
      const bool best_covers =
          best && best->size.width() >= size.width() && best->size.height() >= size.height();
      const qint64 area = qint64(picture.size.width()) * picture.size.height();
      const qint64 best_area = best ? qint64(best->size.width()) * best->size.height() : 0;
      if (best == nullptr || (covers && (!best_covers || area < best_area)) ||
          (!covers && !best_covers && area > best_area)) {
        best = &picture;
      }
    }
    return best;
  }

  std::vector<Picture> pictures_;
};

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

// An icon file holds at most a few pictures of up to 256 x 256 pixels, 256 KiB each as bitmaps:
// a file larger than this is no icon, and reading it whole would only fill the memory.
constexpr off_t kLargestIconFile = off_t{16} << 20;

// The whole of the regular file at `path`. Anything else stops here, unread: a FIFO would wait
// for a writer for ever and a device (/dev/zero) would never end.
template <typename Failure>
QByteArray ReadRegularFile(const QString& path, const Failure& failure) {
  if (path.startsWith(u':')) {  // korvi's own, built in
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw failure(file.errorString());
    return file.readAll();
  }
  const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw failure(QString::fromLocal8Bit(std::strerror(errno)));
  struct stat file {};
  const auto fail = [&](const QString& why) {
    close(fd);
    return failure(why);
  };
  if (fstat(fd, &file) != 0) throw fail(QString::fromLocal8Bit(std::strerror(errno)));
  // An empty icon name in the settings leaves only the program's folder.
  if (S_ISDIR(file.st_mode)) throw fail(QStringLiteral("it is a folder, not a file"));
  if (!S_ISREG(file.st_mode)) {
    throw fail(QStringLiteral("it is not a regular file but %1")
                   .arg(S_ISFIFO(file.st_mode)   ? QStringLiteral("a pipe (FIFO)")
                        : S_ISCHR(file.st_mode)  ? QStringLiteral("a character device")
                        : S_ISBLK(file.st_mode)  ? QStringLiteral("a block device")
                        : S_ISSOCK(file.st_mode) ? QStringLiteral("a socket")
                                                 : QStringLiteral("a special file")));
  }
  if (file.st_size > kLargestIconFile) {
    throw fail(QStringLiteral("it holds %1 bytes, more than any icon file (at most %2 MiB)")
                   .arg(file.st_size)
                   .arg(kLargestIconFile >> 20));
  }
  QByteArray bytes(static_cast<qsizetype>(file.st_size), Qt::Uninitialized);
  qsizetype got = 0;
  while (got < bytes.size()) {
    const ssize_t read_now =
        read(fd, bytes.data() + got, static_cast<std::size_t>(bytes.size() - got));
    if (read_now < 0 && errno == EINTR) continue;
    if (read_now < 0) throw fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (read_now == 0) break;  // cut short since fstat: what is there is what is read
    got += read_now;
  }
  close(fd);
  bytes.truncate(got);
  return bytes;
}

QIcon ReadIconFile(const QString& path) {
  auto failure = [&path](const QString& why) {
    return RuntimeError("the icon file \"" + path.toStdString() +
                        "\" cannot be loaded: " + why.toStdString());
  };
  if (path.isEmpty()) throw failure("no file name was given");
  const QByteArray bytes = ReadRegularFile(path, failure);

  QIcon icon;
  const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                           static_cast<std::size_t>(bytes.size()));
  if (const auto pictures = ReadIconPictures(data)) {
    auto* engine = new IconPictures;
    icon = QIcon(engine);
    // Beside a bitmap, a PNG picture's header is all that is read now: decoding the large
    // pictures would cost a third of the start-up, and the bitmaps stand in for a damaged one.
    // Alone, each is decoded, so that a file that draws nothing stops korvi here.
    const bool has_bitmap = std::any_of(pictures->begin(), pictures->end(),
                                        [](const IconPicture& p) { return p.png.empty(); });
    for (const IconPicture& picture : *pictures) {
      if (!picture.png.empty()) {
        const QByteArray png(reinterpret_cast<const char*>(picture.png.data()),
                             static_cast<qsizetype>(picture.png.size()));
        const QSize size = PngSize(png);
        if (!size.isValid() || (!has_bitmap && DecodePng(png).isNull())) {
          throw failure("a PNG picture in it cannot be read");
        }
        engine->AddPng(size, png);
        continue;
      }
      // The picture's pixels are only borrowed: the pixmap gets a copy of its own.
      const QImage image(reinterpret_cast<const uchar*>(picture.pixels.data()), picture.width,
                         picture.height, picture.width * 4, QImage::Format_ARGB32);
      engine->Add(QPixmap::fromImage(image.copy()));
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
