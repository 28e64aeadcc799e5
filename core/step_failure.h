// The one kind of failure the program's checked helpers report: a look-up
// that cannot be made, a value that does not fit, a control that refuses a
// value, a library that cannot be loaded. The start-up sequence abandons the
// step in which it is thrown (resume_next.h).
#pragma once

#include <stdexcept>

namespace morvane {

class StepFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace morvane
