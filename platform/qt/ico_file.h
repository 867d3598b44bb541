#pragma once
// The pictures of an icon (.ico) file, read without Qt's image plugins: loading those costs
// korvi more memory and start-up time than all of its own icons together. Only the bitmap
// kinds this reader knows come out of it, and PNG pictures as they are stored (Qt decodes PNG
// without a plugin); anything else (a compressed or 16-bit bitmap, a picture that does not add
// up) is left to Qt's own reader, which has the last word on whether the file is an icon at all;
// a directory larger than the file is not.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform::qt {

struct IconPicture {
  int width = 0;
  int height = 0;
  // Top row first, each pixel 0xAARRGGBB, not premultiplied; empty for a PNG picture.
  std::vector<std::uint32_t> pixels;
  // A PNG picture's bytes, inside the file that was read; empty for a bitmap.
  std::span<const std::uint8_t> png;
};

// Every picture of the file, in the file's order; nullopt when this reader does not read
// the file (see above). Never reads outside `file`.
std::optional<std::vector<IconPicture>> ReadIconPictures(std::span<const std::uint8_t> file);

// Why no reader should be given `file`, or "": an icon directory that lists more pictures than
// the file can hold. Qt's reader would seek to each of them in turn and complain every time.
std::string IconDirectoryFault(std::span<const std::uint8_t> file);

}  // namespace platform::qt
