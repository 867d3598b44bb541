#include "platform/qt/ico_file.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/qt/backend.h"
#include "platform/window.h"

namespace platform::qt {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& out, std::uint32_t value, int count) {
  for (int i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// `bytes` as the file `name` in `dir`; its path.
QString Written(const QTemporaryDir& dir, const char* name, const Bytes& bytes) {
  const QString path = dir.filePath(name);
  QFile out(path);
  EXPECT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  return path;
}

struct Picture {
  int width;
  int height;
  int bits;
  std::uint32_t seed;
  bool zero_alpha = false;  // a 32-bit picture whose alpha bytes are all 0
};

// The AND mask the pictures carry: a pattern that crosses byte and row-padding boundaries.
bool Masked(int x, int y) {
  return (x * 7 + y * 3) % 5 == 0;
}

// The bitmap of one picture as an icon file holds it: header, palette, colour rows, mask
// rows, every byte not fixed by the format drawn from `seed`. `zero_alpha` pictures have
// alpha 255 instead where `opaque`.
Bytes Bitmap(const Picture& p, bool opaque = false) {
  std::mt19937 random(p.seed);
  const auto byte = [&random] { return static_cast<std::uint8_t>(random()); };
  Bytes out;
  Put(out, 40, 4);
  Put(out, p.width, 4);
  Put(out, p.height * 2, 4);
  Put(out, 1, 2);
  Put(out, p.bits, 2);
  for (int i = 0; i < 6; ++i) Put(out, 0, 4);  // uncompressed; the whole palette in use
  if (p.bits <= 8) {
    for (int i = 0; i < (4 << p.bits); ++i) out.push_back(byte());
  }
  const int colour_stride = (p.width * p.bits + 31) / 32 * 4;
  for (int i = 0; i < colour_stride * p.height; ++i) {
    const bool alpha = p.bits == 32 && i % 4 == 3;
    out.push_back(alpha && p.zero_alpha ? (opaque ? 255 : 0) : byte());
  }
  const int mask_stride = (p.width + 31) / 32 * 4;
  for (int row = p.height - 1; row >= 0; --row) {  // bottom up
    for (int i = 0; i < mask_stride; ++i) {
      std::uint8_t bits = byte();  // what lies past the width is padding
      for (int bit = 0; bit < 8 && i * 8 + bit < p.width; ++bit) {
        const std::uint8_t flag = 0x80 >> bit;
        bits = Masked(i * 8 + bit, row) ? bits | flag : bits & ~flag;
      }
      out.push_back(bits);
    }
  }
  return out;
}

Bytes IconFile(const std::vector<Bytes>& bitmaps, const std::vector<Picture>& pictures) {
  Bytes out;
  Put(out, 0, 2);
  Put(out, 1, 2);
  Put(out, static_cast<std::uint32_t>(bitmaps.size()), 2);
  std::size_t offset = 6 + 16 * bitmaps.size();
  for (std::size_t i = 0; i < bitmaps.size(); ++i) {
    out.push_back(static_cast<std::uint8_t>(pictures[i].width));  // 256 is written as 0
    out.push_back(static_cast<std::uint8_t>(pictures[i].height));
    Put(out, 0, 2);
    Put(out, 1, 2);
    Put(out, pictures[i].bits, 2);
    Put(out, static_cast<std::uint32_t>(bitmaps[i].size()), 4);
    Put(out, static_cast<std::uint32_t>(offset), 4);
    offset += bitmaps[i].size();
  }
  for (const Bytes& bitmap : bitmaps) out.insert(out.end(), bitmap.begin(), bitmap.end());
  return out;
}

Bytes IconFile(const std::vector<Picture>& pictures, bool opaque = false) {
  std::vector<Bytes> bitmaps;
  for (const Picture& p : pictures) bitmaps.push_back(Bitmap(p, opaque));
  return IconFile(bitmaps, pictures);
}

std::vector<QImage> QtPictures(const Bytes& file) {
  QBuffer buffer;
  buffer.setData(reinterpret_cast<const char*>(file.data()), static_cast<qsizetype>(file.size()));
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "ico");
  std::vector<QImage> images;
  for (int i = 0; i < reader.imageCount() && reader.jumpToImage(i); ++i) {
    images.push_back(reader.read().convertToFormat(QImage::Format_ARGB32_Premultiplied));
  }
  return images;
}

QImage Image(const IconPicture& picture) {
  return QImage(reinterpret_cast<const uchar*>(picture.pixels.data()), picture.width,
                picture.height, picture.width * 4, QImage::Format_ARGB32)
      .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// "" when both are the same picture, or the first thing that differs.
std::string Difference(const QImage& ours, const QImage& theirs) {
  if (ours.size() != theirs.size()) {
    return "size " + std::to_string(ours.width()) + "x" + std::to_string(ours.height()) +
           " against " + std::to_string(theirs.width()) + "x" + std::to_string(theirs.height());
  }
  for (int y = 0; y < ours.height(); ++y) {
    for (int x = 0; x < ours.width(); ++x) {
      if (ours.pixel(x, y) != theirs.pixel(x, y)) {
        return "pixel " + std::to_string(x) + "," + std::to_string(y) + ": " +
               QString::number(ours.pixel(x, y), 16).toStdString() + " against " +
               QString::number(theirs.pixel(x, y), 16).toStdString();
      }
    }
  }
  return "";
}

// Qt's own reader, which gives the colours, and the mask applied as Windows draws icons: a
// picture with alpha of its own ignores the mask; any other shows only where the mask is
// clear. (Qt 6's reader drops the mask altogether.)
QImage Expected(const QImage& qt, const Picture& p) {
  QImage expected = qt.convertToFormat(QImage::Format_ARGB32);
  const bool own_alpha = p.bits == 32 && !p.zero_alpha;
  for (int y = 0; y < expected.height() && !own_alpha; ++y) {
    for (int x = 0; x < expected.width(); ++x) {
      const QRgb rgb = expected.pixel(x, y);
      expected.setPixel(x, y, Masked(x, y) ? rgb & 0x00FFFFFFu : rgb | 0xFF000000u);
    }
  }
  return expected.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

TEST(ReadIconPictures, GivesTheColoursQtGivesAndTheMaskWindowsDraws) {
  // Every bitmap depth, widths that need row padding, several pictures in one file.
  const std::vector<std::vector<Picture>> files = {
      {{16, 16, 32, 1}, {32, 32, 32, 2}},
      {{16, 16, 32, 3, true}, {33, 2, 32, 4, true}},
      {{16, 16, 24, 5}},
      {{7, 5, 24, 6}},
      {{16, 16, 8, 7}, {33, 20, 8, 8}},
      {{16, 16, 4, 9}, {5, 3, 4, 10}},
      {{16, 16, 1, 11}, {13, 9, 1, 12}, {1, 1, 1, 13}},
      {{256, 256, 32, 14}},
      {{48, 48, 32, 15}, {16, 16, 4, 16}, {24, 24, 24, 17}},
  };
  for (const auto& pictures : files) {
    SCOPED_TRACE(testing::Message() << pictures[0].width << "x" << pictures[0].height << " "
                                    << pictures[0].bits << "-bit");
    const Bytes file = IconFile(pictures);
    const auto ours = ReadIconPictures(file);
    // Qt's reader keeps no colour under alpha 0; it reads the colours of an opaque copy.
    const std::vector<QImage> theirs = QtPictures(IconFile(pictures, true));
    ASSERT_TRUE(ours.has_value());
    ASSERT_EQ(ours->size(), pictures.size());
    ASSERT_EQ(theirs.size(), pictures.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
      EXPECT_EQ(Difference(Image((*ours)[i]), Expected(theirs[i], pictures[i])), "")
          << "picture " << i;
    }
  }
}

TEST(ReadIconPictures, LeavesWhatItDoesNotKnowToQt) {
  const Bytes good = IconFile({{16, 16, 32, 31}});
  struct Row {
    const char* what;
    Bytes file;
  };
  const auto changed = [&good](std::size_t at, std::uint8_t value) {
    Bytes file = good;
    file[at] = value;
    return file;
  };
  const Row rows[] = {
      {"an empty file", {}},
      {"a cursor", changed(2, 2)},
      {"no pictures", changed(4, 0)},
      {"a picture past the end", Bytes(good.begin(), good.end() - 1)},
      {"a directory past the end", Bytes(good.begin(), good.begin() + 20)},
      {"a 16-bit picture", changed(22 + 14, 16)},
      {"a compressed picture", changed(22 + 16, 1)},
      {"directory and bitmap disagree on the width", changed(6, 15)},
      {"an odd bitmap height", changed(22 + 8, 31)},
      {"a palette larger than its depth",
       [] {
         Bytes file = IconFile({{4, 4, 1, 32}});
         file[22 + 32] = 3;
         return file;
       }()},
  };
  for (const Row& row : rows) {
    EXPECT_FALSE(ReadIconPictures(row.file).has_value()) << row.what;
  }
}

TEST(LoadIconFile, TheShippedIconsHoldEverySizeATrayDrawsAndDifferByShape) {
  const int sizes[] = {16, 20, 24, 32, 40, 48, 64, 256};
  const auto path = [](const char* name) { return QString(KORVI_ASSETS "/%1").arg(name); };
  const QIcon up = LoadIconFile(path("korvi-up.ico"));
  const QIcon down = LoadIconFile(path("korvi-down.ico"));
  for (const char* name : {"korvi-up.ico", "korvi-down.ico", "korvi-neutral.ico"}) {
    QFile file(path(name));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    const QByteArray bytes = file.readAll();
    const auto pictures = ReadIconPictures(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), std::size_t(bytes.size())));
    ASSERT_TRUE(pictures.has_value()) << name << ": left to Qt's image plugins";
    std::vector<int> sides;
    for (const IconPicture& picture : *pictures) sides.push_back(picture.width);
    EXPECT_EQ(sides, std::vector<int>(std::begin(sizes), std::end(sizes))) << name;
    EXPECT_FALSE(pictures->back().png.empty()) << name << ": 256 px stored as PNG";
  }
  for (const int side : sizes) {
    SCOPED_TRACE(side);
    // Drawn at each size, not scaled from another.
    EXPECT_TRUE(up.availableSizes().contains(QSize(side, side)));
    const QImage disc = up.pixmap(side, side).toImage();
    const QImage square = down.pixmap(side, side).toImage();
    ASSERT_EQ(disc.size(), QSize(side, side));
    // Near a corner the square is drawn and the disc is not (but for its smoothed edge).
    const int corner = int(side * 0.13);
    EXPECT_LT(qAlpha(disc.pixel(corner, corner)), 128);
    EXPECT_EQ(qAlpha(square.pixel(corner, corner)), 255);
  }
}

// A PNG picture in an icon file, as newer icon editors write large pictures: intact, or with
// its data damaged past the header, alone or beside a bitmap that can stand in for it.
TEST(LoadIconFile, ReadsAPngPictureAndStandsABitmapInForADamagedOne) {
  QImage red(24, 24, QImage::Format_ARGB32);
  red.fill(QColor(200, 0, 0));
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(red.save(&buffer, "PNG"));
  const Bytes png(buffer.data().begin(), buffer.data().end());
  Bytes damaged = png;
  const std::string_view idat = "IDAT";
  const auto data = std::search(damaged.begin(), damaged.end(), idat.begin(), idat.end()) + 4;
  ASSERT_LT(data, damaged.end() - 12);
  std::fill(data, damaged.end() - 12, 0xA5);  // up to the IEND chunk
  const Picture png_entry{24, 24, 32, 0};
  const Picture bitmap{16, 16, 32, 7};
  struct Row {
    const char* what;
    Bytes file;
    QColor centre;  // drawn at 24 px; invalid: the file is refused
  };
  const Row rows[] = {
      {"intact, alone", IconFile({png}, {png_entry}), QColor(200, 0, 0)},
      {"damaged, alone", IconFile({damaged}, {png_entry}), QColor()},
      {"damaged, beside a bitmap", IconFile({Bitmap(bitmap, true), damaged}, {bitmap, png_entry}),
       QtPictures(IconFile({bitmap}, true))[0].pixelColor(8, 8)},
  };
  QTemporaryDir dir;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const auto pictures = ReadIconPictures(row.file);
    ASSERT_TRUE(pictures.has_value()) << "Qt reads PNG without its image plugins";
    EXPECT_EQ(pictures->back().png.size(), png.size());
    try {
      const QImage shown = LoadIconFile(Written(dir, row.what, row.file)).pixmap(24, 24).toImage();
      ASSERT_TRUE(row.centre.isValid()) << "loaded";
      ASSERT_FALSE(shown.isNull());
      EXPECT_EQ(shown.pixelColor(shown.width() / 2, shown.height() / 2), row.centre);
    } catch (const RuntimeError& e) {
      EXPECT_FALSE(row.centre.isValid()) << e.what();
      EXPECT_NE(std::string(e.what()).find("a PNG picture in it cannot be read"), std::string::npos)
          << e.what();
    }
  }
}

// Handed to Qt's reader, a directory that claims 65,535 pictures gave 65,534 complaints.
TEST(LoadIconFile, RefusesADirectoryLargerThanTheFileWithOneMessage) {
  const Bytes good = IconFile({{16, 16, 32, 31}});
  struct Row {
    const char* what;
    Bytes file;
    std::string says;
  };
  Bytes claims_all = good;
  claims_all[4] = claims_all[5] = 0xFF;
  const Row rows[] = {
      {"65,535 pictures", claims_all,
       "its directory lists 65535 pictures, more than its " + std::to_string(good.size()) +
           " bytes can hold"},
      {"a directory cut short", Bytes(good.begin(), good.begin() + 20),
       "its directory lists 1 pictures, more than its 20 bytes can hold"},
  };
  static int complaints = 0;
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType, const QMessageLogContext&, const QString&) { ++complaints; });
  QTemporaryDir dir;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    complaints = 0;
    try {
      LoadIconFile(Written(dir, "claims.ico", row.file));
      ADD_FAILURE() << "loaded";
    } catch (const RuntimeError& e) {
      EXPECT_NE(std::string(e.what()).find(row.says), std::string::npos) << e.what();
    }
    EXPECT_EQ(complaints, 0);
  }
  qInstallMessageHandler(previous);
}

}  // namespace
}  // namespace platform::qt
