// The parts of the usage (app/about.h) that differ from one system to the
// other; about_posix.cpp and about_win32.cpp give them.
#pragma once

#include <string_view>

namespace morvane {

struct SystemUsage {
  // How the command line is read into names, in both languages.
  std::u16string_view names;
  // The environment variables that matter besides MORVANE_WORKERS.
  std::u16string_view environment;
  // Where an installed copy and a portable copy keep the settings.
  std::u16string_view installed_settings;
  std::u16string_view portable_settings;
  // Where more is told.
  std::u16string_view see_also;
};

const SystemUsage& ThisSystemsUsage();

}  // namespace morvane
