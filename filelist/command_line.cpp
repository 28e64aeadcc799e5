#include "filelist/command_line.h"

#include <cstddef>
#include <utility>

#include "core/resume_next.h"
#include "filelist/file_path.h"

namespace morvane {
namespace {

constexpr char16_t kDot = u'.';
constexpr char16_t kBlank = u' ';
constexpr std::u16string_view kBitmapExtension = u".BMP";

// The state of the one pass over the command line. Each lettered step (the
// letters in the comments) is one unit of the resume-next rule and makes one
// assignment, so a step that fails leaves the state as it was.
class Splitter {
 public:
  void TakeCharacter(char16_t ch) {
    if (ch == kDot) {
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

  FileList Finish() && {
    if (pending_extension_ == kBitmapExtension) {
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
  void EndExtensionAtBlank() {
    if (pending_extension_ == kBitmapExtension) {
      RunStep([&] { Slot(list_.ScannedNames) += pending_extension_; });  // D
      RunStep([&] { RecordTail(); });                                    // E
      RunStep([&] { ++name_index_; });                                   // F
    } else {
      RunStep([&] { Slot(list_.ScannedNames).clear(); });  // G
    }
    RunStep([&] { in_extension_ = false; });       // H
    RunStep([&] { pending_extension_.clear(); });  // J
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
};

}  // namespace

FileList SplitCommandLine(std::u16string_view command_line) {
  Splitter splitter;
  for (const char16_t ch : command_line) splitter.TakeCharacter(ch);
  return std::move(splitter).Finish();
}

}  // namespace morvane
