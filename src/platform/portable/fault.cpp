#include "platform/fault.h"

namespace platform {

void raise(int32_t number, const std::string& description, const std::string& source) {
  throw Fault{number, description, source};
}

}  // namespace platform
