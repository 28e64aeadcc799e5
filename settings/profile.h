// A private-profile (INI) reader and writer over file contents held as
// texts, with the rules of the Windows profile functions: section and key
// names compared ignoring (ASCII) letter case, the first occurrence winning,
// values without surrounding blanks, tabs and one pair of quotes, and every
// line that is not written kept as it was.
//
// The file format: lines end in LF or CR LF. A line whose first non-blank
// character is "[" opens a section, as Windows reads it: named by the text
// up to the first "]" of the line, or to the end of a line without one
// (blanks and tabs around the name dropped), so "[Data] ; note [x]" and
// "[Data" are both section Data. A line whose first
// non-blank character is ";" is a comment. Any other line holding "=" is an
// entry: its key is the text before the first "=", its value the text after
// it. Lines before the first section belong to no section. Only the first
// section of a name counts; a later section of the same name is never read
// or written. A leading byte-order mark is kept and not part of a name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace morvane {

// The value of `key` in `section` of `file_content`: the text after the
// key's first "=", without surrounding blanks and tabs, then without one
// pair of matching surrounding double or single quotes. Names are compared
// ignoring ASCII letter case and surrounding blanks and tabs; the first
// matching entry of the first matching section counts.
// Result: that value, or `default_value` when the section or the key is
// missing (an empty content is a missing file). Never fails.
std::u16string GetProfileString(std::u16string_view file_content, std::u16string_view section,
                                std::u16string_view key, std::u16string_view default_value);

// `file_content` with `key` in `section` set to `value`, written as is
// (blanks included). The key's first entry is replaced in place, keeping the
// text up to and including its "=", and keeping its line end; a missing key
// is added after the last non-blank line of its section; a missing section
// is added at the end of the content. Every other line is kept unchanged.
// New lines end like the content's first line; CR LF when it has no line
// end yet, as the Windows profile functions write.
// Result: the new content, or nothing when the entry cannot be stored:
// a line break in any of the three texts, an empty section or key name
// (after dropping surrounding blanks and tabs), a section holding "]", a key
// holding "=" or beginning with "[" or ";".
[[nodiscard]] std::optional<std::u16string> SetProfileString(std::u16string_view file_content,
                                                             std::u16string_view section,
                                                             std::u16string_view key,
                                                             std::u16string_view value);

}  // namespace morvane
