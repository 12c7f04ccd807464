#include "platform/fault.h"

namespace platform {

void raise(int32_t number, const QString& description, const QString& source) {
  throw Fault{number, description, source};
}

}  // namespace platform
