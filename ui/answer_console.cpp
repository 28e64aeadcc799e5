#include <iostream>

#include "platform/platform.h"
#include "ui/answer.h"

namespace morvane {

void ShowAnswer(std::u16string_view text) { std::cout << ToSystemText(text) << std::flush; }

}  // namespace morvane
