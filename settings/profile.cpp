#include "settings/profile.h"

#include <cstddef>
#include <vector>

#include "core/text.h"

namespace morvane {
namespace {

constexpr char16_t kByteOrderMark = u'\uFEFF';

enum class LineKind { kOther, kSection, kComment, kEntry };

// One line of the content: [begin, text_end) is its text, [text_end, end)
// its line end (empty for a last line without one).
struct Line {
  size_t begin = 0;
  size_t text_end = 0;
  size_t end = 0;
  LineKind kind = LineKind::kOther;
  std::u16string_view name;  // section name or key, blanks and tabs dropped
  size_t value_begin = 0;    // for an entry: just after its first "="
};

Line ClassifyLine(std::u16string_view content, Line line) {
  const std::u16string_view text = content.substr(line.begin, line.text_end - line.begin);
  const std::u16string_view trimmed = TrimBlanksAndTabs(text);
  if (trimmed.empty()) return line;
  if (trimmed.front() == u'[') {
    // As Windows reads it: the name ends at the first "]", or with the line
    // when there is none; what follows the "]" is not looked at.
    const size_t close = trimmed.find(u']');
    line.kind = LineKind::kSection;
    line.name = TrimBlanksAndTabs(
        trimmed.substr(1, close == std::u16string_view::npos ? close : close - 1));
    return line;
  }
  if (trimmed.front() == u';') {
    line.kind = LineKind::kComment;
    return line;
  }
  const size_t equals = text.find(u'=');
  if (equals != std::u16string_view::npos) {
    line.kind = LineKind::kEntry;
    line.name = TrimBlanksAndTabs(text.substr(0, equals));
    line.value_begin = line.begin + equals + 1;
  }
  return line;
}

// The lines of `content`, split at LF; a CR before the LF belongs to the
// line end.
std::vector<Line> SplitLines(std::u16string_view content) {
  std::vector<Line> lines;
  size_t begin = (!content.empty() && content.front() == kByteOrderMark) ? 1 : 0;
  while (begin < content.size()) {
    Line line;
    line.begin = begin;
    const size_t feed = content.find(u'\n', begin);
    if (feed == std::u16string_view::npos) {
      // A CR without its LF is no line end: text written after it would
      // join this line.
      line.end = line.text_end = content.size();
    } else {
      line.end = feed + 1;
      line.text_end = (feed > begin && content[feed - 1] == u'\r') ? feed - 1 : feed;
    }
    lines.push_back(ClassifyLine(content, line));
    begin = line.end;
  }
  return lines;
}

bool IsBlankLine(std::u16string_view content, const Line& line) {
  return TrimBlanksAndTabs(content.substr(line.begin, line.text_end - line.begin)).empty();
}

// Where a section and a key stand among the lines; indices into the lines,
// or kNone.
struct Position {
  static constexpr size_t kNone = static_cast<size_t>(-1);
  size_t section = kNone;
  size_t last_filled = kNone;  // last non-blank line of the section
  size_t entry = kNone;
};

Position FindEntry(std::u16string_view content, const std::vector<Line>& lines,
                   std::u16string_view section, std::u16string_view key) {
  Position position;
  for (size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (position.section == Position::kNone) {
      if (line.kind == LineKind::kSection && EqualIgnoringAsciiCase(line.name, section)) {
        position.section = i;
        position.last_filled = i;
      }
      continue;
    }
    if (line.kind == LineKind::kSection) break;  // the section ends here
    if (!IsBlankLine(content, line)) position.last_filled = i;
    if (line.kind == LineKind::kEntry && EqualIgnoringAsciiCase(line.name, key)) {
      position.entry = i;
      break;
    }
  }
  return position;
}

bool IsQuote(char16_t ch) { return ch == u'"' || ch == u'\''; }

std::u16string_view WithoutQuotes(std::u16string_view value) {
  if (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

bool HasLineBreak(std::u16string_view text) {
  return text.find_first_of(u"\r\n") != std::u16string_view::npos;
}

bool CanStore(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  // A "]" would end the section's name early when it is read back.
  if (section.empty() || key.empty() || section.find(u']') != std::u16string_view::npos) {
    return false;
  }
  return key.find(u'=') == std::u16string_view::npos && key.front() != u'[' && key.front() != u';';
}

// New lines end as the content's first line does; a content without any
// line end gets CR LF, the ending of the Windows profile functions.
std::u16string_view LineEndOf(std::u16string_view content) {
  const size_t feed = content.find(u'\n');
  if (feed == std::u16string_view::npos || (feed > 0 && content[feed - 1] == u'\r')) {
    return u"\r\n";
  }
  return u"\n";
}

// The line end to add after `before`, whose last line has none: after a
// bare CR, a CR LF, so that the CR stays part of that line's text rather
// than become its line end: a section line "[Data\r" would otherwise turn
// into "[Data", a section of the name being added.
std::u16string_view LineEndAfter(std::u16string_view before, std::u16string_view line_end) {
  return (!before.empty() && before.back() == u'\r') ? u"\r\n" : line_end;
}

std::u16string EntryText(std::u16string_view key, std::u16string_view value) {
  std::u16string text(key);
  text += u'=';
  text += value;
  return text;
}

}  // namespace

std::u16string GetProfileString(std::u16string_view file_content, std::u16string_view section,
                                std::u16string_view key, std::u16string_view default_value) {
  section = TrimBlanksAndTabs(section);
  key = TrimBlanksAndTabs(key);
  if (section.empty() || key.empty()) return std::u16string(default_value);
  const std::vector<Line> lines = SplitLines(file_content);
  const Position position = FindEntry(file_content, lines, section, key);
  if (position.entry == Position::kNone) return std::u16string(default_value);
  const Line& line = lines[position.entry];
  const std::u16string_view value =
      file_content.substr(line.value_begin, line.text_end - line.value_begin);
  return std::u16string(WithoutQuotes(TrimBlanksAndTabs(value)));
}

std::optional<std::u16string> SetProfileString(std::u16string_view file_content,
                                               std::u16string_view section, std::u16string_view key,
                                               std::u16string_view value) {
  section = TrimBlanksAndTabs(section);
  key = TrimBlanksAndTabs(key);
  if (!CanStore(section, key, value)) return std::nullopt;
  const std::u16string_view line_end = LineEndOf(file_content);
  const std::vector<Line> lines = SplitLines(file_content);
  const Position position = FindEntry(file_content, lines, section, key);
  std::u16string content(file_content);

  if (position.entry != Position::kNone) {
    const Line& line = lines[position.entry];
    content.replace(line.value_begin, line.text_end - line.value_begin, value);
    return content;
  }
  if (position.section != Position::kNone) {
    const Line& after = lines[position.last_filled];
    std::u16string added = EntryText(key, value);
    if (after.end == after.text_end) {
      added.insert(0, line_end);  // the content's last line had no line end
    } else {
      added += line_end;
    }
    content.insert(after.end, added);
    return content;
  }
  const bool only_mark = content.size() == 1 && content.front() == kByteOrderMark;
  if (!content.empty() && !only_mark && content.back() != u'\n') {
    content += LineEndAfter(content, line_end);
  }
  content += u'[';
  content += section;
  content += u']';
  content += line_end;
  content += EntryText(key, value);
  content += line_end;
  return content;
}

}  // namespace morvane
