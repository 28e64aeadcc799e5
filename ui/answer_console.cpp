// Through stdio: iostream's start-up (its locales) would cost every run of
// the program, which links the C++ library in, about a tenth of a run that
// only finds its file missing.
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "ui/answer.h"

namespace morvane {

void ShowAnswer(std::u16string_view text) {
  const std::string bytes = ToSystemText(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

}  // namespace morvane
