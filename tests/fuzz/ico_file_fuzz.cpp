// Any file named as an icon, through the reader korvi tries before Qt's: nothing is read past
// the file, and every picture it gives has a size an icon can have and a pixel for each place.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/qt/ico_file.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly the input's size, so that ASan sees any read past its end.
  const std::vector<std::uint8_t> file(data, data + size);
  const auto pictures = platform::qt::ReadIconPictures(std::span(file.data(), file.size()));
  if (!pictures) return 0;
  FUZZ_CHECK(!pictures->empty());
  for (const auto& picture : *pictures) {
    FUZZ_CHECK(picture.width >= 1 && picture.width <= 256);
    FUZZ_CHECK(picture.height >= 1 && picture.height <= 256);
    FUZZ_CHECK(picture.pixels.size() == std::size_t(picture.width) * picture.height);
  }
  return 0;
}
