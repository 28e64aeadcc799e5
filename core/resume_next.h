// The start-up sequence runs each of its steps under one rule: a step that
// fails is abandoned, what it was to assign stays unassigned, and the next
// step runs. A failure is any exception thrown inside the step.
#pragma once

#include <exception>
#include <utility>

#include "core/step_failure.h"

namespace morvane {

// Runs one step; returns true when it completed, false when it failed and
// was abandoned. Keep a step's assignment its last statement, so that an
// abandoned step assigns nothing.
template <class Step>
bool RunStep(Step&& step) noexcept {
  try {
    std::forward<Step>(step)();
    return true;
  } catch (const std::exception&) {
    return false;
  } catch (...) {
    return false;
  }
}

}  // namespace morvane
