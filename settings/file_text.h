// The settings file's bytes as the text the profile reader works on, and
// back. A file that starts with a UTF-16 byte-order mark (FF FE, or FE FF
// for big-endian) is UTF-16, as Notepad saves it and as the Windows profile
// functions read and write it; any other file is the system's narrow text
// (see FromSystemText: each byte that is not UTF-8 is carried as one unit).
// Encoding what was decoded gives the same bytes, so the lines a write does
// not own stay as they were, byte for byte.
#pragma once

#include <string>
#include <string_view>

namespace morvane {

enum class FileEncoding { kNarrow, kUtf16LittleEndian, kUtf16BigEndian };

struct FileText {
  // The file's text; a UTF-16 file's byte-order mark is its first unit,
  // U+FEFF, which the profile reader skips.
  std::u16string text;
  FileEncoding encoding = FileEncoding::kNarrow;
  // A UTF-16 file's last byte when its size is odd (it is no whole unit);
  // otherwise empty. Written back as the file's last byte.
  std::string odd_byte;
};

// The text of a file holding `bytes`; an empty file is narrow. Never fails.
FileText DecodeFileText(std::string_view bytes);

// The bytes of a file holding `file.text` in `file.encoding`, followed by
// `file.odd_byte`. Never fails.
std::string EncodeFileText(const FileText& file);

}  // namespace morvane
