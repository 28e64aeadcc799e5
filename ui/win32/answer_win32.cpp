#include <windows.h>

#include <string>

#include "ui/answer.h"
#include "ui/form1.h"

namespace morvane {

void ShowAnswer(std::u16string_view text) {
  // Message boxes break lines with CR LF, as the program's others do, and
  // need no break after the last line.
  while (!text.empty() && text.back() == u'\n') text.remove_suffix(1);
  std::wstring shown;
  for (const char16_t unit : text) {
    if (unit == u'\n') shown += L'\r';
    shown += static_cast<wchar_t>(unit);
  }
  const std::wstring title(kAppTitle.begin(), kAppTitle.end());
  ::MessageBoxW(nullptr, shown.c_str(), title.c_str(), MB_OK | MB_ICONINFORMATION);
}

}  // namespace morvane
