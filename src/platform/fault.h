#pragma once
// A fault is how every platform operation and every conversion reports that it
// failed: a number, a description and the name of the component that raised it.
// Trapped procedures catch it (persist/errorreport.h), report it and go on.

#include <cstdint>
#include <string>

namespace platform {

struct Fault {
  int32_t number = 0;
  std::string description;
  std::string source;
};

// The source named in faults raised by the program's own steps.
inline constexpr const char* kProgramSource = "Tarnwick";

// Fixed fault numbers, as the system has always numbered them.
namespace faults {
inline constexpr int32_t kOverflow = 6;          // "Overflow"
inline constexpr int32_t kTypeMismatch = 13;     // "Type mismatch"
inline constexpr int32_t kFileNotFound = 53;     // "File not found"
inline constexpr int32_t kInvalidProperty = 380; // "Invalid property value"
inline constexpr int32_t kInvalidArrayIndex = 381;  // "Invalid property array index"
inline constexpr int32_t kInvalidPicture = 481;  // "Invalid picture"
// Serial control.
inline constexpr int32_t kPortInvalid = 8002;    // "Invalid port number"
inline constexpr int32_t kPortAlreadyOpen = 8005;
inline constexpr int32_t kPortOpenFailed = 8012; // "The device is not open" (could not be opened)
inline constexpr int32_t kSetStateFailed = 8015; // settings the device would not take
inline constexpr int32_t kPortNotOpen = 8018;    // "Operation valid only when the port is open"
inline constexpr int32_t kPortBusy = 8010;       // "The hardware is not available (locked by another device)"
inline constexpr int32_t kAccessDenied = 8011;   // permission denied opening the device
}  // namespace faults

// Throws Fault{number, description, source}.
[[noreturn]] void raise(int32_t number, const std::string& description,
                        const std::string& source = kProgramSource);

}  // namespace platform
