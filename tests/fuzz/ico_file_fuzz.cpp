// Any file named as an icon, through the reader korvi tries before Qt's: nothing is read past
// the file, and every picture it gives has a size an icon can have and either a pixel for each
// place or PNG bytes that lie inside the file, for Qt to decode when the picture is drawn.

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
    if (picture.png.empty()) {
      FUZZ_CHECK(picture.pixels.size() == std::size_t(picture.width) * picture.height);
    } else {
      FUZZ_CHECK(picture.pixels.empty());
      FUZZ_CHECK(picture.png.data() >= file.data() &&
                 picture.png.data() + picture.png.size() <= file.data() + file.size());
      FUZZ_CHECK(picture.png[0] == 0x89 && picture.png[1] == 'P');
    }
  }
  return 0;
}
