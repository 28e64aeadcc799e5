#include "filelist/command_line.h"

#include <cstddef>
#include <optional>
#include <utility>
#include <variant>

#include "core/resume_next.h"
#include "core/text.h"
#include "filelist/file_path.h"

namespace morvane {
namespace {

constexpr char16_t kDot = u'.';
constexpr char16_t kBlank = u' ';
constexpr char16_t kQuote = u'"';
constexpr std::u16string_view kBitmapExtension = u".BMP";

// ".BMP" in any letter case: Windows keeps names in the case they were
// given, and Paint saves "photo.bmp".
bool IsBitmapExtension(std::u16string_view extension) {
  return EqualIgnoringAsciiCase(extension, kBitmapExtension);
}

bool EndsWithBitmapExtension(std::u16string_view name) {
  return name.size() >= kBitmapExtension.size() &&
         IsBitmapExtension(name.substr(name.size() - kBitmapExtension.size()));
}

// The state of the one pass over the command line. Each step of the
// unquoted rules (the letters in the comments) is one unit of the
// resume-next rule and makes one assignment, so a step that fails leaves
// the state as it was.
class Splitter {
 public:
  // One character of a command line given as one text.
  void TakeCharacter(char16_t ch) {
    if (place_ == Place::kInQuotes) {
      if (ch == kQuote) {
        place_ = Place::kAfterQuotes;
      } else {
        RunStep([&] { quoted_name_ += ch; });
      }
    } else if (place_ == Place::kAfterQuotes && ch == kBlank) {
      // The blank that ends a quoted name goes nowhere.
      EndQuotedName(quoted_joined_);
    } else {
      if (place_ == Place::kAfterQuotes) {
        // Text right after the closing quote: the quoted name and the
        // unquoted name that begins here are joined, and both go.
        EndQuotedName(true);
        unquoted_joined_ = true;
      }
      TakeUnquotedCharacter(ch);
    }
    previous_ = ch;
  }

  // One argument of a command line given as a list: a whole name.
  void TakeArgument(std::u16string_view argument) { TakeWholeName(argument); }

  FileList Finish() && {
    // The end of the text ends a quoted name, its quote closed or not.
    if (place_ != Place::kUnquoted) EndQuotedName(quoted_joined_);
    if (!unquoted_joined_ && IsBitmapExtension(pending_extension_)) {
      RunStep([&] { Slot(list_.ScannedNames) += pending_extension_; });  // L
      RunStep([&] { RecordTail(); });                                    // M
    } else {
      RunStep([&] { Slot(list_.ScannedNames).clear(); });  // P
      RunStep([&] { --name_index_; });                     // Q
    }
    list_.FileCount = name_index_;
    // Both tables hold an entry for every index up to FileCount, also when
    // the last names were never written.
    Slot(list_.ScannedNames);
    Slot(list_.NameTails);
    return std::move(list_);
  }

 private:
  enum class Place { kUnquoted, kInQuotes, kAfterQuotes };

  void TakeUnquotedCharacter(char16_t ch) {
    if (ch == kQuote) {
      OpenQuotes();
    } else if (ch == kDot) {
      RunStep([&] { pending_extension_ = kDot; });  // A
      RunStep([&] { in_extension_ = true; });       // B
    } else if (in_extension_ && ch != kBlank) {
      RunStep([&] { pending_extension_ += ch; });  // C
    } else if (in_extension_) {
      EndExtensionAtBlank();
    } else {
      RunStep([&] { Slot(list_.ScannedNames) += ch; });  // K
    }
  }

  void EndExtensionAtBlank() {
    if (!unquoted_joined_ && IsBitmapExtension(pending_extension_)) {
      RunStep([&] { Slot(list_.ScannedNames) += pending_extension_; });  // D
      RunStep([&] { RecordTail(); });                                    // E
      RunStep([&] { ++name_index_; });                                   // F
    } else {
      RunStep([&] { Slot(list_.ScannedNames).clear(); });  // G
    }
    RunStep([&] { in_extension_ = false; });       // H
    RunStep([&] { pending_extension_.clear(); });  // J
    unquoted_joined_ = false;
  }

  // The unquoted name being gathered has no complete ".BMP" (a blank would
  // have ended it): it is thrown away. The quoted name is joined to what
  // stands right before its quote unless that is a blank or nothing.
  void OpenQuotes() {
    RunStep([&] { Slot(list_.ScannedNames).clear(); });  // as G
    RunStep([&] { in_extension_ = false; });             // as H
    RunStep([&] { pending_extension_.clear(); });        // as J
    unquoted_joined_ = false;
    quoted_joined_ = previous_.has_value() && *previous_ != kBlank;
    quoted_name_.clear();
    place_ = Place::kInQuotes;
  }

  void EndQuotedName(bool joined) {
    if (!joined) TakeWholeName(quoted_name_);
    quoted_name_.clear();
    place_ = Place::kUnquoted;
  }

  // A name given whole (quoted, or one argument), taken as an unquoted name
  // is at the blank after its ".BMP". Slot n holds nothing of another name
  // here.
  void TakeWholeName(std::u16string_view name) {
    if (!EndsWithBitmapExtension(name)) return;
    RunStep([&] { Slot(list_.ScannedNames) = name; });  // as D
    RunStep([&] { RecordTail(); });                     // as E
    RunStep([&] { ++name_index_; });                    // as F
  }

  // The tail of the long form, however long: FileName reaches back only 255
  // characters, which misses the "/" before a name of 255 characters, and
  // the chosen-folder rule needs every name's tail. A name that is not found
  // has an empty long form, which holds no "/", so its tail stays empty.
  void RecordTail() {
    std::u16string tail = LastComponent(FPath(Slot(list_.ScannedNames)));
    Slot(list_.NameTails) = std::move(tail);
  }

  // The entry of the current index, the table grown to reach it: the tables
  // hold as many names as the command line brings.
  std::u16string& Slot(std::vector<std::u16string>& table) {
    const size_t index = name_index_ < 0 ? 0 : static_cast<size_t>(name_index_);
    if (table.size() <= index) table.resize(index + 1);
    return table[index];
  }

  FileList list_;
  int64_t name_index_ = 1;
  std::u16string pending_extension_;
  bool in_extension_ = false;
  // Where the pass stands: in unquoted text, inside quotes, or right after
  // a closing quote, where the next character tells whether the quoted name
  // stands apart.
  Place place_ = Place::kUnquoted;
  std::u16string quoted_name_;
  // The quoted name being read is joined to the text before it.
  bool quoted_joined_ = false;
  // The unquoted name being gathered is joined to a quoted name before it.
  bool unquoted_joined_ = false;
  std::optional<char16_t> previous_;
};

}  // namespace

FileList SplitCommandLine(const CommandLine& command_line) {
  Splitter splitter;
  if (const auto* text = std::get_if<std::u16string>(&command_line)) {
    for (const char16_t ch : *text) splitter.TakeCharacter(ch);
  } else {
    for (const std::u16string& argument : std::get<std::vector<std::u16string>>(command_line)) {
      splitter.TakeArgument(argument);
    }
  }
  return std::move(splitter).Finish();
}

}  // namespace morvane
