#include "platform/portable/serial_model.h"

#include "platform/fault.h"
#include "platform/portable/utf8.h"

#include <vector>

namespace platform {

namespace {

[[noreturn]] void refuse(const std::string& what) {
  raise(faults::kInvalidProperty, "Invalid property value: " + what, kSerialSource);
}

std::string trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// A whole decimal number with an optional sign, or nothing.
std::optional<long long> wholeNumber(const std::string& s) {
  const std::string t = trimmed(s);
  size_t i = !t.empty() && (t[0] == '-' || t[0] == '+') ? 1 : 0;
  if (i == t.size() || t.size() > 12) return std::nullopt;
  long long value = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return std::nullopt;
    value = value * 10 + (t[i] - '0');
  }
  return t[0] == '-' ? -value : value;
}

std::vector<std::string> fields(const std::string& text) {
  std::vector<std::string> f;
  for (size_t start = 0;;) {
    const size_t comma = text.find(',', start);
    f.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return f;
    start = comma + 1;
  }
}

}  // namespace

LineSettings parseSettings(const std::string& text, const LineRules& rules) {
  const std::vector<std::string> f = fields(text);
  if (f.size() != 4) refuse("Settings \"" + text + "\" is not speed,parity,data,stop");
  LineSettings line;
  const auto speed = wholeNumber(f[0]);
  if (!speed || *speed <= 0 || *speed > 0x7FFFFFFF)
    refuse("speed \"" + f[0] + "\" is not a positive whole number");
  line.speed = static_cast<int32_t>(*speed);
  const std::string parity = trimmed(f[1]);
  const char p = parity.size() == 1 ? static_cast<char>(parity[0] & ~0x20) : '\0';
  if (p != 'E' && p != 'M' && p != 'N' && p != 'O' && p != 'S')
    refuse("parity \"" + f[1] + "\" is not E, M, N, O or S");
  line.parity = p;
  const auto data = wholeNumber(f[2]);
  if (!data || *data < 5 || *data > 8) refuse("data bits \"" + f[2] + "\" are not 5 to 8");
  line.dataBits = static_cast<int>(*data);
  const std::string stop = trimmed(f[3]);
  if (stop == "1") {
    line.stop = StopBits::One;
  } else if (stop == "2") {
    if (line.dataBits == 5 && !rules.twoStopWithFiveData)
      refuse("stop bits \"" + f[3] + "\" are not taken with 5 data bits");
    line.stop = StopBits::Two;
  } else if (stop == "1.5" && rules.oneAndHalfStop) {
    if (line.dataBits != 5) refuse("stop bits \"" + f[3] + "\" are taken with 5 data bits only");
    line.stop = StopBits::OneAndHalf;
  } else {
    refuse("stop bits \"" + f[3] + (rules.oneAndHalfStop ? "\" are not 1, 1.5 or 2" : "\" are not 1 or 2"));
  }
  return line;
}

void SerialModel::setCommPort(int16_t port) {
  if (port <= 0) raise(faults::kPortInvalid, "Invalid port number", kSerialSource);
  if (deviceOpen()) raise(faults::kPortAlreadyOpen, "Port already open", kSerialSource);
  commPort_ = port;
}

void SerialModel::setHandshaking(int32_t mode) {
  if (mode < 0 || mode > 3) refuse("Handshaking " + std::to_string(mode) + " is not 0 to 3");
  LineState wanted = state_;
  wanted.handshaking = mode;
  change(wanted, "Handshaking " + std::to_string(mode));
}

void SerialModel::setSettings(const std::string& text) {
  LineState wanted = state_;
  wanted.line = parseSettings(text, rules_);
  change(wanted, "Settings \"" + text + "\"");
  settings_ = text;
}

void SerialModel::change(const LineState& wanted, const std::string& what) {
  if (deviceOpen()) {
    const std::string reason = applyState(wanted);
    if (!reason.empty()) {
      applyState(state_);
      raiseRefused(what, reason);
    }
  }
  state_ = wanted;
}

void SerialModel::setInputLen(int16_t length) {
  if (length < 0) refuse("InputLen " + std::to_string(length) + " is negative");
  inputLen_ = length;
}

void SerialModel::setRThreshold(int16_t count) {
  if (count < 0) refuse("RThreshold " + std::to_string(count) + " is negative");
  rThreshold_ = count;
  if (deviceOpen()) queueReceiveCheck();  // characters already waiting may now reach it
}

void SerialModel::setSThreshold(int16_t count) {
  if (count < 0) refuse("SThreshold " + std::to_string(count) + " is negative");
  sThreshold_ = count;
}

void SerialModel::setRTSEnable(bool on) {
  state_.rts = on;
  if (deviceOpen()) applyRts(state_);
}

void SerialModel::setPortOpen(bool open) {
  if (!open) {
    if (deviceOpen()) closeDevice();
    return;
  }
  if (deviceOpen()) raise(faults::kPortAlreadyOpen, "Port already open", kSerialSource);
  lost_.reset();  // a loss is told about until the next opening
  const std::string reason = openDevice(commPort_, state_);
  if (!reason.empty()) {
    if (deviceOpen()) closeDevice();
    raiseRefused("Settings \"" + settings_ + "\" with Handshaking " + std::to_string(state_.handshaking), reason);
  }
  startReceiving();
}

void SerialModel::setOutput(const std::string& text) {
  requireOpen();
  const std::string bytes = utf8::toLatin1(text);
  if (bytes.empty()) return;
  const std::string gone = writeBytes(bytes);
  if (gone.empty()) return;
  lineLost(gone);
  requireOpen();
}

std::string SerialModel::input() {
  requireOpen();
  return utf8::fromLatin1(takeBytes(static_cast<size_t>(inputLen_)));
}

void SerialModel::receiveArrived() {
  if (deviceOpen() && rThreshold_ > 0 && bytesWaiting() >= static_cast<size_t>(rThreshold_))
    signalEvent(comEvReceive);
}

void SerialModel::lineLost(const std::string& reason) {
  if (deviceOpen()) closeDevice();
  lost_ = reason;
}

void SerialModel::signalEvent(int16_t code) {
  event_ = code;
  if (onComm) onComm();
}

void SerialModel::requireOpen() const {
  if (deviceOpen()) return;
  if (lost_) {
    raise(faults::kPortNotOpen,
          std::string(kNotOpenText) + ": the device " + deviceName() + " went away and the port was closed" +
              (lost_->empty() ? "" : " (" + *lost_ + ")"),
          kSerialSource);
  }
  raise(faults::kPortNotOpen, kNotOpenText, kSerialSource);
}

void SerialModel::raiseMissing(const std::string& tried, const std::string& hint) const {
  raise(faults::kPortInvalid, "Invalid port number: " + comName() + " has no device (tried " + tried + "); " + hint,
        kSerialSource);
}

void SerialModel::raiseInUse(const std::string& who) const {
  raise(faults::kPortBusy, "The port is in use: " + deviceName() + " (" + comName() + ") " + who, kSerialSource);
}

void SerialModel::raiseOpenFailed(const std::string& detail) const {
  raise(faults::kPortOpenFailed, "The device " + deviceName() + " (" + comName() + ") could not be opened: " + detail,
        kSerialSource);
}

Fault SerialModel::refusal(const std::string& what, const std::string& reason) const {
  return Fault{faults::kSetStateFailed, "The device " + deviceName() + " refused " + what + ": " + reason,
               kSerialSource};
}

void SerialModel::raiseRefused(const std::string& what, const std::string& reason) const {
  throw refusal(what, reason);
}

}  // namespace platform
