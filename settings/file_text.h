// The settings file's bytes as the text the profile reader works on, and
// back, with every line that a write leaves alone kept byte for byte.
//
// Its encoding is told by its first bytes: a UTF-16 byte-order mark (FF FE,
// or FE FF for big-endian) makes it UTF-16, as Notepad saves it and as the
// Windows profile functions read and write it; a UTF-8 one (EF BB BF) makes
// it UTF-8 on every system; any other file is the system's narrow text (the
// ANSI code page on Windows, UTF-8 on Linux; see FromSystemText). The mark
// is the text's first unit, U+FEFF, which the profile reader skips.
//
// Lines end at LF; a CR before it, or a CR that ends the file, belongs to
// the line end. A line is read as the system reads it, which on Windows may
// lose what the code page cannot say (a stray lead byte becomes "・"). So a
// line keeps the bytes it was read from for as long as its text is not
// changed, and only lines written anew are encoded.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

enum class FileEncoding { kNarrow, kUtf8, kUtf16LittleEndian, kUtf16BigEndian };

class FileText {
 public:
  // The text of a file holding `bytes`; an empty file is narrow. Never fails.
  static FileText Decode(std::string_view bytes);

  const std::u16string& text() const { return text_; }
  FileEncoding encoding() const { return encoding_; }

  // Makes `text` the file's text. Each line whose text (without its line
  // end) is found unchanged around the lines that changed keeps the bytes it
  // was read from: the part before and after one changed run of lines, as a
  // profile write makes it (one line replaced, or lines added at one place).
  void SetText(std::u16string text);

  // The file's bytes: each line kept as it was read, each other line
  // encoded, its line end as the text has it; a UTF-16 file's odd last byte
  // last. Nothing when a line to be encoded holds what the encoding cannot
  // hold exactly (ToSystemTextExactly, ToUtf8Exactly): a file is never
  // written with a look-alike of its text.
  [[nodiscard]] std::optional<std::string> Encode() const;

 private:
  struct Line {
    size_t begin = 0;     // where its text starts in text_
    size_t text_end = 0;  // where its line end starts
    size_t end = 0;       // past its line end
    // The bytes its text was read from, without the line end; nothing for a
    // line written anew.
    std::optional<std::string> bytes;
  };

  static std::vector<Line> SplitLines(std::u16string_view text);
  std::u16string_view TextOf(const Line& line) const;
  std::optional<std::string> EncodeText(std::u16string_view text) const;

  std::u16string text_;
  FileEncoding encoding_ = FileEncoding::kNarrow;
  std::vector<Line> lines_;
  // A UTF-16 file's last byte when its size is odd (it is no whole unit);
  // otherwise empty. Written back as the file's last byte.
  std::string odd_byte_;
};

}  // namespace morvane
