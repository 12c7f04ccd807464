#pragma once
// The fault a step raises, if any. Standard C++: Windows tests use it too.

#include "platform/fault.h"

#include <functional>
#include <optional>

inline std::optional<platform::Fault> faultOf(const std::function<void()>& step) {
  try {
    step();
  } catch (const platform::Fault& f) {
    return f;
  }
  return std::nullopt;
}
