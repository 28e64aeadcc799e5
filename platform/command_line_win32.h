// How Windows hands the program its command line: one text, the program's
// own name first. Part of the Win32 platform layer, here for its tests.
#pragma once

#include <string>
#include <string_view>

namespace morvane {

// The text after the program's name in `whole` (as GetCommandLineW gives
// it) and after the blanks and tabs that follow that name, otherwise
// untouched. The name runs to its closing double quote when it starts with
// one, otherwise to the first blank or tab.
std::u16string ArgumentsAfterProgramName(std::u16string_view whole);

}  // namespace morvane
