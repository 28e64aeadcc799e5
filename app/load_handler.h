// The load handler of Form1: the program's start-up sequence and, when the
// program was given bitmap paths, the whole batch conversion.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "settings/settings.h"
#include "ui/form1.h"

namespace morvane {

// One conversion: source, destination (both may be rewritten by the
// encoder), quality, progressive flag and the threads the call may use to
// code the picture (at least 1); gives the encoder's result. Throws when the
// encoder cannot be reached.
using ConvertFunction =
    std::function<int16_t(std::u16string&, std::u16string&, uint8_t, int16_t, unsigned)>;

// Where start-up gets its pieces from; the program uses the real ones, tests
// may put their own in.
struct StartUpParts {
  std::function<StoredSettings(uint8_t& quality, int16_t& progressive)> load_settings;
  ConvertFunction convert;
  // Threads the encoder calls use together, calls side by side and the
  // threads each call codes its picture on: 0 for one per core.
  unsigned workers = 0;
  // Memory the calls running at once may need together: 0 for what the
  // process may still take (MemoryAvailableToProcess).
  uint64_t memory_bytes = 0;
  // Where the batch says why names were not converted: called once, after
  // the conversions and before the summary, with one line (ending in LF)
  // for each such name in name order (NotConvertedLine), or the one line
  // NoBitmapNamedLine when the command line names no bitmap. Not called
  // when every name was converted; nothing is said when it is unset.
  std::function<void(std::u16string_view lines)> report_not_converted;
};

enum class StartUpOutcome {
  kShowWindow,     // no command line: the window runs next
  kAllConverted,   // every name found was converted
  kNoneConverted,  // the failure message was shown
  kSomeConverted,
};

// Runs start-up and, for a non-empty command line (CommandLineText not
// empty), the batch and its summary message. Every step runs under the
// resume-next rule; never throws.
StartUpOutcome RunLoadHandler(Form1& form, const CommandLine& command_line,
                              const StartUpParts& parts);

// Exit status of a batch: 0 all converted, 1 none, 2 some.
int ExitStatusOf(StartUpOutcome outcome);

}  // namespace morvane
