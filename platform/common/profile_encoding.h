#pragma once
// Settings files saved as UTF-16 (with a byte-order mark, as Windows Notepad's "Unicode" saves
// them) turned into the UTF-8 text that the INI rules work on, and back, byte for byte. Files in
// an encoding that cannot be told for sure are named, not guessed at. One write applied to a
// file's bytes in its own encoding, for both backends' writers. Standard C++ only.

#include <optional>
#include <string>
#include <string_view>

namespace platform::profile_encoding {

struct Utf16Text {
  bool big_endian = false;
  // The code units after the mark as UTF-8; a lone surrogate takes the three bytes that
  // generalised UTF-8 gives it, so that every file comes back as it was.
  std::string text;
  // An odd last byte, which no code unit holds.
  std::string tail;
};

// The file's text when it begins with a UTF-16 byte-order mark (but not a UTF-32 one).
std::optional<Utf16Text> DecodeUtf16(std::string_view bytes);
// The file again: mark, code units, tail. EncodeUtf16(*DecodeUtf16(b)) == b for any such b.
// A byte of `text` that is not UTF-8 becomes U+FFFD.
std::string EncodeUtf16(const Utf16Text& decoded);

// Whether `text` is strict UTF-8 (no surrogates), which a UTF-16 file can hold exactly.
bool IsUtf8(std::string_view text);

// The encoding of a file that the INI rules cannot read ("UTF-32", "UTF-16 without a
// byte-order mark"), told from its first bytes; empty when the file can be read.
std::string_view UnreadableEncoding(std::string_view bytes);
// What to tell the user about a file in that encoding.
std::string Refusal(std::string_view encoding);

// One value to store: in UTF-8 for files that carry Unicode (UTF-16, or UTF-8 with its mark),
// and in the ANSI code page for any other; nullopt where the code page has no such text.
struct Entry {
  std::string_view section, key, value;
};

struct Rewritten {
  std::string refusal;   // why the file cannot take the value; empty when it can
  bool changed = false;  // false: the file already reads so, and nothing need be written
  std::string bytes;     // the whole new file, when changed
};

// `file` (its bytes, "" when there is none) with the value stored, every other byte kept.
// A value that the file already holds, as the reader reads it, changes nothing.
Rewritten Rewrite(std::string_view file, const Entry& utf8, const std::optional<Entry>& ansi,
                  std::string_view default_eol);

}  // namespace platform::profile_encoding
