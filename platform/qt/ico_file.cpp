#include "platform/qt/ico_file.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace platform::qt {
namespace {

constexpr std::size_t kDirectorySize = 6;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr int kLargestSide = 256;  // an icon directory has one byte per side, 0 meaning 256
constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t Little(std::span<const std::uint8_t> bytes, std::size_t at, int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[at + i];
  return value;
}

std::optional<IconPicture> ReadPicture(std::span<const std::uint8_t> image, int listed_width,
                                       int listed_height) {
  if (image.size() < kInfoHeaderSize) return std::nullopt;
  const std::uint32_t header_size = Little(image, 0, 4);
  const auto width = static_cast<std::int32_t>(Little(image, 4, 4));
  const auto doubled_height = static_cast<std::int32_t>(Little(image, 8, 4));
  const std::uint32_t bits = Little(image, 14, 2);
  const std::uint32_t compression = Little(image, 16, 4);
  const std::uint32_t colours_used = Little(image, 32, 4);
  if (header_size < kInfoHeaderSize || header_size > image.size()) return std::nullopt;
  // A bottom-up picture on top of an AND mask of the same size, uncompressed.
  if (compression != 0 || doubled_height <= 0 || doubled_height % 2 != 0) return std::nullopt;
  const int height = doubled_height / 2;
  if (width < 1 || width > kLargestSide || height > kLargestSide) return std::nullopt;
  // The directory and the bitmap must agree on the size, or readers disagree on the picture.
  if (width != (listed_width == 0 ? kLargestSide : listed_width) ||
      height != (listed_height == 0 ? kLargestSide : listed_height)) {
    return std::nullopt;
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return std::nullopt;

  const std::size_t palette_size = bits <= 8 ? (colours_used ? colours_used : 1u << bits) : 0;
  if (bits <= 8 && palette_size > (1u << bits)) return std::nullopt;
  const std::size_t colour_stride = (std::size_t(width) * bits + 31) / 32 * 4;
  const std::size_t mask_stride = (std::size_t(width) + 31) / 32 * 4;
  const std::size_t palette_at = header_size;
  const std::size_t colour_at = palette_at + palette_size * 4;
  const std::size_t mask_at = colour_at + colour_stride * height;
  if (mask_at + mask_stride * height > image.size()) return std::nullopt;

  IconPicture picture{width, height, std::vector<std::uint32_t>(std::size_t(width) * height), {}};
  bool any_alpha = false;
  for (int row = 0; row < height; ++row) {
    // Rows run from the bottom up.
    const std::size_t line = colour_at + colour_stride * (height - 1 - row);
    std::uint32_t* out = picture.pixels.data() + std::size_t(row) * width;
    for (int x = 0; x < width; ++x) {
      std::uint32_t argb = 0;
      if (bits == 32) {
        argb = Little(image, line + std::size_t(x) * 4, 4);
        any_alpha = any_alpha || (argb >> 24) != 0;
      } else if (bits == 24) {
        argb = 0xFF000000u | Little(image, line + std::size_t(x) * 3, 3);
      } else {
        const std::size_t bit = std::size_t(x) * bits;
        const unsigned index = (image[line + bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        if (index >= palette_size) return std::nullopt;
        argb = 0xFF000000u | (Little(image, palette_at + index * 4, 3));
      }
      out[x] = argb;
    }
  }
  // A picture with alpha of its own is drawn with it alone. Any other (a 32-bit picture from
  // an older editor has alpha 0 throughout) shows where its AND mask is clear: what Windows
  // draws. Qt's own reader loses the mask and would paint those icons' background.
  if (bits == 32 && any_alpha) return picture;
  for (int row = 0; row < height; ++row) {
    const std::size_t line = mask_at + mask_stride * (height - 1 - row);
    std::uint32_t* out = picture.pixels.data() + std::size_t(row) * width;
    for (int x = 0; x < width; ++x) {
      const bool transparent = (image[line + x / 8] >> (7 - x % 8)) & 1;
      out[x] = transparent ? out[x] & 0x00FFFFFFu : out[x] | 0xFF000000u;
    }
  }
  return picture;
}

}  // namespace

std::optional<std::vector<IconPicture>> ReadIconPictures(std::span<const std::uint8_t> file) {
  if (file.size() < kDirectorySize) return std::nullopt;
  const std::uint32_t count = Little(file, 4, 2);
  // Reserved 0, type 1 (an icon; 2 would be a cursor).
  if (Little(file, 0, 2) != 0 || Little(file, 2, 2) != 1 || count == 0) return std::nullopt;
  if (kDirectorySize + kEntrySize * count > file.size()) return std::nullopt;

  std::vector<IconPicture> pictures;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t entry = kDirectorySize + kEntrySize * i;
    const std::uint64_t size = Little(file, entry + 8, 4);
    const std::uint64_t offset = Little(file, entry + 12, 4);
    if (offset + size > file.size()) return std::nullopt;
    const auto image = file.subspan(offset, size);
    if (image.size() >= sizeof kPngSignature &&
        std::equal(std::begin(kPngSignature), std::end(kPngSignature), image.begin())) {
      const int width = file[entry] == 0 ? kLargestSide : file[entry];
      const int height = file[entry + 1] == 0 ? kLargestSide : file[entry + 1];
      pictures.push_back({width, height, {}, image});
      continue;
    }
    auto picture = ReadPicture(image, file[entry], file[entry + 1]);
    if (!picture) return std::nullopt;
    pictures.push_back(std::move(*picture));
  }
  return pictures;
}

std::string IconDirectoryFault(std::span<const std::uint8_t> file) {
  if (file.size() < kDirectorySize || Little(file, 0, 2) != 0 || Little(file, 2, 2) != 1) return {};
  const std::uint32_t count = Little(file, 4, 2);
  if (kDirectorySize + kEntrySize * count <= file.size()) return {};
  return "its directory lists " + std::to_string(count) + " pictures, more than its " +
         std::to_string(file.size()) + " bytes can hold";
}

}  // namespace platform::qt
