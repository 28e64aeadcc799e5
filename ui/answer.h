// Where the program answers a question about itself (its usage, its
// version; see app/about.h), as this system's programs do.
#pragma once

#include <string_view>

namespace morvane {

// Shows `text` (lines ending in LF) on its own: on standard output on POSIX
// systems, where a terminal asked; on Windows, where the program has no
// console, in a message box titled "Morvane" with the information icon,
// lines ending in CR LF and none after the last. Returns when it has been shown (the box closed).
void ShowAnswer(std::u16string_view text);

}  // namespace morvane
