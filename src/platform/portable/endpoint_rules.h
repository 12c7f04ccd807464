#pragma once
// What both systems' endpoints say and take, byte for byte: how a client's
// bytes become its request line and, after it, a "cancel"; the refusal texts;
// how tarnwick-switch cuts the owner's bytes into lines. The backends only
// move the bytes.

#include "platform/endpoint.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace platform::endpoint_rules {

// A client that stops reading is dropped once this much of its answer waits.
inline constexpr size_t kMostQueuedBytes = 64 * 1024;

// Why a client is refused before its request reaches the window.
std::string tooLongText();    // "request too long"
std::string noRequestText();  // "no request within 2 s"

// The lines that refuse a client: "error <why>", then "status 2".
std::vector<std::string> refusalLines(const std::string& why);

// A client's bytes on the window's side: first one request line (at most
// kMostRequestBytes with its "\n"; a "\r" before the "\n" is dropped), then
// only "cancel" means anything. After too long a request it hears nothing.
class RequestReader {
 public:
  enum class Heard { Nothing, Request, TooLong, Cancel };

  // Keeps bytes the client wrote.
  void take(const char* bytes, size_t count);
  // What the bytes kept say next; call again until Nothing. After Request,
  // request() holds the line.
  Heard next();
  const std::string& request() const { return request_; }
  // True once the request line has come.
  bool requested() const { return stage_ == Stage::Requested; }

 private:
  enum class Stage { Awaiting, Requested, Refused };

  std::string in_;
  std::string request_;
  Stage stage_ = Stage::Awaiting;
};

// The owner's bytes on tarnwick-switch's side, as lines without "\n" or
// "\r\n".
class LineSplitter {
 public:
  void take(const char* bytes, size_t count);
  // The next whole line, if one has come.
  std::optional<std::string> next();
  // Once the owner has closed: what is left, a last line without its end.
  std::optional<std::string> rest();
  bool empty() const { return in_.empty(); }

 private:
  std::string in_;
};

}  // namespace platform::endpoint_rules
