#pragma once
// The INI rules on the file's bytes alone, with no file system: finding a value and applying a
// write. Standard C++ only, so that the Windows build can hold it against the system's own
// profile functions read for read.

#include <optional>
#include <string>
#include <string_view>

namespace platform::profile_text {

// The value of `key` in the first `[section]` of `text`, its first occurrence there, with
// blanks and tabs around it and one pair of matching surrounding quotes removed. Names match
// without regard to ASCII case. nullopt when the section or key is missing.
std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key);

// Why a section, key or value cannot be written without breaking the file's line structure;
// empty when it can.
std::string RefusalReason(std::string_view section, std::string_view key, std::string_view value);

// `text` with `key` in `[section]` set to `value`: replaced where it stands, or added after the
// last key of the section, or added with a new section at the end. Every other byte is kept.
// New lines take the line ending that `text` already uses, `default_eol` when it has none.
// The arguments must have passed RefusalReason.
std::string ApplyWrite(std::string_view text, std::string_view section, std::string_view key,
                       std::string_view value, std::string_view default_eol);

}  // namespace platform::profile_text
