// The program as a whole: start-up with the real settings file, encoder and
// view, then the window or the end of the batch.
#pragma once

namespace morvane {

// Gives the process's exit status.
int RunProgram(int argc, const char* const* argv);

}  // namespace morvane
