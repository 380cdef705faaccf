// Exported functions are called from C: no exception may leave them. Each export runs its body
// through GuardedCall, which turns any escaping exception (in practice std::bad_alloc) into the
// function's failure value.
#pragma once

#include <utility>

namespace devicefw {

template <typename Result, typename Body>
Result GuardedCall(Result on_failure, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return on_failure;
  }
}

template <typename Body>
void GuardedCall(Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (...) {
  }
}

}  // namespace devicefw
