#include "platform/portable/endpoint_rules.h"

#include <chrono>
#include <utility>

namespace platform::endpoint_rules {

namespace {

// Cuts the first whole line off `in`, without its "\n" or "\r\n".
std::optional<std::string> cutLine(std::string& in) {
  const size_t end = in.find('\n');
  if (end == std::string::npos) return std::nullopt;
  std::string line = in.substr(0, end);
  in.erase(0, end + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::string tooLongText() { return "request too long"; }

std::string noRequestText() {
  return "no request within " + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kRequestTimeout).count()) +
         " s";
}

std::vector<std::string> refusalLines(const std::string& why) { return {"error " + why, "status 2"}; }

void RequestReader::take(const char* bytes, size_t count) {
  if (stage_ != Stage::Refused) in_.append(bytes, count);
}

RequestReader::Heard RequestReader::next() {
  if (stage_ == Stage::Awaiting) {
    const size_t end = in_.find('\n');
    // A line that cannot end within the bound is refused before it ends.
    if (end == std::string::npos ? in_.size() >= kMostRequestBytes : end + 1 > kMostRequestBytes) {
      stage_ = Stage::Refused;
      in_.clear();
      return Heard::TooLong;
    }
    const auto line = cutLine(in_);
    if (!line) return Heard::Nothing;
    request_ = *line;
    stage_ = Stage::Requested;
    return Heard::Request;
  }
  if (stage_ == Stage::Refused) return Heard::Nothing;
  while (const auto line = cutLine(in_)) {
    if (*line == "cancel") return Heard::Cancel;
  }
  // Other bytes after the request are not kept.
  if (in_.size() > kMostRequestBytes) in_.clear();
  return Heard::Nothing;
}

void LineSplitter::take(const char* bytes, size_t count) { in_.append(bytes, count); }

std::optional<std::string> LineSplitter::next() { return cutLine(in_); }

std::optional<std::string> LineSplitter::rest() {
  if (in_.empty()) return std::nullopt;
  return std::exchange(in_, {});
}

}  // namespace platform::endpoint_rules
