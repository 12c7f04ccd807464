// tarnwick-avr-board: the board's firmware on a simulated ATmega328P (simavr),
// its UART on a pseudo-terminal. Prints the device path on its first line,
// then the line speed whenever it changes, every line the firmware answers
// (time, answer) and every change of an output pin (time, port, level, pin,
// simulated time, the CLOCK_MONOTONIC time it stands for).
//
// The simulation is paced to the wall clock: it never runs ahead of it, and it
// catches up before each received byte goes in, so a byte enters the UART at
// the moment it arrived and then takes its ten bit times, as on a wire.

#include <simavr/avr_ioport.h>
#include <simavr/avr_uart.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_elf.h>
#include <simavr/sim_irq.h>

#include "boardline.h"
#include "pins.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

using boardline::say;

namespace {

const char kUsage[] =
    "usage: tarnwick-avr-board [--link PATH] [--firmware ELF] [--inject PATH] [--rx-times]\n"
    "  Runs the board's firmware on a simulated ATmega328P at 16 MHz, in real time,\n"
    "  with its UART on a pseudo-terminal; prints the device path, the firmware's\n"
    "  answers and every change of the output pins.\n"
    "  --link PATH     make PATH a symbolic link to the device (removed on exit)\n"
    "  --firmware ELF  the firmware to run (default: the one built beside this program)\n"
    "  --inject PATH   make PATH a FIFO; bytes written to it reach the board as if\n"
    "                  they came over the line (line noise, for tests)\n"
    "  --rx-times      also print when bytes came from the line (for benchmarks)\n";

constexpr uint32_t kFrequency = 16000000;
constexpr int64_t kBusyTickNs = 1000000;    // while bytes are on the way
constexpr int64_t kIdleTickNs = 50000000;   // otherwise: speed changes, signals
constexpr int64_t kBusyForNs = 100000000;   // how long after traffic to stay busy

// ATmega328P data-space addresses of the UART's speed registers.
constexpr uint16_t kUCSR0A = 0xC0, kUBRR0L = 0xC4, kUBRR0H = 0xC5;

int64_t monoNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

// Local time of day, "hh:mm:ss." and `digits` decimals, of a CLOCK_REALTIME time.
std::string clockText(int64_t realNs, int digits) {
  const std::time_t secs = static_cast<std::time_t>(realNs / 1000000000);
  std::tm local{};
  localtime_r(&secs, &local);
  char text[48];
  long fraction = static_cast<long>(realNs % 1000000000);
  for (int i = digits; i < 9; ++i) fraction /= 10;
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%0*ld", local.tm_hour, local.tm_min, local.tm_sec, digits,
                fraction);
  return text;
}

// simavr hands its own printf format on.
[[gnu::format(printf, 3, 0)]] void quietLogger(avr_t*, int level, const char* format, va_list args) {
  if (level > LOG_ERROR) return;
  std::fputs("tarnwick-avr-board: simavr: ", stderr);
  std::vfprintf(stderr, format, args);
}

// The simulator runs the clock itself; its own sleep would pace it a second time.
void noSleep(avr_t*, avr_cycle_count_t) {}

struct Options {
  std::string link, firmware = TARNWICK_FIRMWARE_ELF, inject;
  bool rxTimes = false;
};

class Board {
 public:
  Board(avr_t* avr, int line, int device, bool rxTimes)
      : avr_(avr), line_(line), device_(device), rxTimes_(rxTimes) {
    startMono_ = monoNs();
    timespec real{};
    clock_gettime(CLOCK_REALTIME, &real);
    startReal_ = int64_t{real.tv_sec} * 1000000000 + real.tv_nsec;

    auto hook = [&](uint32_t ioctl, int irq, avr_irq_notify_t notify) {
      avr_irq_register_notify(avr_io_getirq(avr_, ioctl, irq), notify, this);
    };
    hook(AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT, [](avr_irq_t*, uint32_t v, void* p) {
      static_cast<Board*>(p)->fromUart(static_cast<uint8_t>(v));
    });
    hook(AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XOFF, [](avr_irq_t*, uint32_t, void* p) {
      static_cast<Board*>(p)->full_ = true;
    });
    hook(AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XON, [](avr_irq_t*, uint32_t, void* p) {
      static_cast<Board*>(p)->full_ = false;
    });
    for (uint8_t i = 0; i < pins::kCount; ++i) {
      pinIndex_[i] = {this, i};
      avr_irq_register_notify(avr_io_getirq(avr_, AVR_IOCTL_IOPORT_GETIRQ(pins::kPort[i]), pins::kBit[i]),
                              [](avr_irq_t*, uint32_t v, void* p) {
                                auto* pin = static_cast<PinRef*>(p);
                                pin->board->pinChanged(pin->index, v != 0);
                              },
                              &pinIndex_[i]);
    }
    uartInput_ = avr_io_getirq(avr_, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
  }

  // Runs the simulation up to the wall clock and sends what is due.
  bool catchUp() {
    const avr_cycle_count_t target = cyclesAt(monoNs() - startMono_);
    while (avr_->cycle < target) {
      const int state = avr_run(avr_);
      if (state == cpu_Done || state == cpu_Crashed) {
        say("the firmware stopped (" + std::string(state == cpu_Done ? "done" : "crashed") + ")");
        return false;
      }
    }
    while (!outgoing_.empty() && outgoing_.front().first <= avr_->cycle) {
      const char c = static_cast<char>(outgoing_.front().second);
      outgoing_.pop_front();
      if (speedMatches()) writeLine(&c, 1);
      else ++lost_;
    }
    reportLost();
    return true;
  }

  // Takes bytes from the line (or the injection FIFO) into the UART.
  void receive(int fd) {
    if (full_) return;  // the UART's buffer is full: they wait in the kernel
    char buffer[16];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return;
    busyUntil_ = monoNs() + kBusyForNs;
    const bool fromLine = fd == line_;
    if (rxTimes_ && fromLine) {
      char line[64];
      std::snprintf(line, sizeof line, "rx mono=%.9f %zd", static_cast<double>(startMono_ + nsAt(avr_->cycle)) / 1e9,
                    n);
      say(line);
    }
    for (ssize_t i = 0; i < n; ++i) {
      // A receiver on another speed or frame reads nothing sensible.
      if (fromLine && !speedMatches()) ++lost_;
      else avr_raise_irq(uartInput_, static_cast<uint8_t>(buffer[i]));
    }
    reportLost();
  }

  // Reports the line speed the program chose, when it changes.
  void watchSpeed() {
    termios now{};
    if (::tcgetattr(device_, &now) != 0) return;
    const long speed = boardline::baud(::cfgetispeed(&now));
    const bool frame = (now.c_cflag & CSIZE) == CS8 && !(now.c_cflag & PARENB);
    if (speed == lineSpeed_ && frame == lineFrame_) return;
    lineSpeed_ = speed;
    lineFrame_ = frame;
    say("speed " + std::to_string(speed));
  }

  int pollTimeoutMs() const {
    int64_t tick = monoNs() < busyUntil_ ? kBusyTickNs : kIdleTickNs;
    if (!outgoing_.empty()) {
      const int64_t due = nsAt(outgoing_.front().first) - (monoNs() - startMono_);
      tick = std::max<int64_t>(0, std::min(tick, due));
    }
    return static_cast<int>((tick + 999999) / 1000000);
  }

  bool full() const { return full_; }

 private:
  struct PinRef {
    Board* board;
    uint8_t index;
  };

  avr_cycle_count_t cyclesAt(int64_t ns) const {
    return static_cast<avr_cycle_count_t>(ns / 1000 * (kFrequency / 1000000) + ns % 1000 * (kFrequency / 1000000) / 1000);
  }
  int64_t nsAt(avr_cycle_count_t cycle) const {
    return static_cast<int64_t>(cycle / kFrequency * 1000000000 + cycle % kFrequency * 1000000000 / kFrequency);
  }

  // The speed the firmware set: UBRR0 and the double-speed bit.
  long uartBaud() const {
    const unsigned ubrr = unsigned{avr_->data[kUBRR0H]} << 8 | avr_->data[kUBRR0L];
    const unsigned divisor = (avr_->data[kUCSR0A] & 0x02) ? 8 : 16;
    return static_cast<long>(kFrequency / (divisor * (ubrr + 1)));
  }

  // Within the 2 % a UART tolerates, 8N1 on both sides.
  bool speedMatches() const {
    const long board = uartBaud();
    return lineFrame_ && lineSpeed_ > 0 && std::labs(lineSpeed_ - board) * 50 <= board;
  }

  void reportLost() {
    if (!lost_) return;
    say(clockText(realNow(), 3) + " lost " + std::to_string(lost_) + " bytes: the line runs at " +
        std::to_string(lineSpeed_) + (lineFrame_ ? " 8N1" : " (not 8N1)") + ", the board at " +
        std::to_string(uartBaud()) + " 8N1");
    lost_ = 0;
  }

  // A byte the firmware put into UDR0 arrives complete one character time later.
  void fromUart(uint8_t byte) {
    const avr_cycle_count_t perByte = kFrequency * 10 / static_cast<avr_cycle_count_t>(uartBaud());
    outgoing_.emplace_back(avr_->cycle + perByte, byte);
    busyUntil_ = monoNs() + kBusyForNs;
    if (byte == '\n') {
      if (!answer_.empty() && answer_.back() == '\r') answer_.pop_back();
      // "ERR" is the firmware refusing bytes; shown like the pty board shows them.
      say(clockText(realAt(avr_->cycle), 3) + (answer_ == "ERR" ? " unknown ERR" : " " + answer_));
      answer_.clear();
    } else {
      answer_ += static_cast<char>(byte);
    }
  }

  void pinChanged(uint8_t index, bool high) {
    if (high == levels_[index]) return;
    levels_[index] = high;
    const int64_t ns = nsAt(avr_->cycle);
    char line[160];
    std::snprintf(line, sizeof line, "pin %s port %d %s %s P%c%d sim=%.9f mono=%.9f",
                  clockText(startReal_ + ns, 6).c_str(), index + 1, high ? "high" : "low", pins::kBoardName[index],
                  pins::kPort[index], pins::kBit[index], static_cast<double>(ns) / 1e9,
                  static_cast<double>(startMono_ + ns) / 1e9);
    say(line);
  }

  void writeLine(const char* data, size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(line_, data, size);
      if (n > 0) data += n, size -= static_cast<size_t>(n);
      else if (errno != EINTR) return;
    }
  }

  int64_t realAt(avr_cycle_count_t cycle) const { return startReal_ + nsAt(cycle); }
  int64_t realNow() const { return startReal_ + (monoNs() - startMono_); }

  avr_t* avr_;
  int line_, device_;
  bool rxTimes_;
  avr_irq_t* uartInput_ = nullptr;
  int64_t startMono_ = 0, startReal_ = 0, busyUntil_ = 0;
  std::deque<std::pair<avr_cycle_count_t, uint8_t>> outgoing_;
  std::string answer_;
  std::array<bool, pins::kCount> levels_{};
  std::array<PinRef, pins::kCount> pinIndex_{};
  long lineSpeed_ = -1;
  bool lineFrame_ = false;
  bool full_ = false;
  long lost_ = 0;
};

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rx-times") {
      options.rxTimes = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    if (arg == "--link") options.link = argv[++i];
    else if (arg == "--firmware") options.firmware = argv[++i];
    else if (arg == "--inject") options.inject = argv[++i];
    else return false;
  }
  return true;
}

avr_t* loadFirmware(const std::string& path) {
  elf_firmware_t firmware{};
  if (elf_read_firmware(path.c_str(), &firmware) != 0) {
    std::fprintf(stderr, "tarnwick-avr-board: cannot read the firmware %s\n", path.c_str());
    return nullptr;
  }
  std::strcpy(firmware.mmcu, "atmega328p");
  firmware.frequency = kFrequency;
  avr_t* avr = avr_make_mcu_by_name(firmware.mmcu);
  if (!avr) return nullptr;
  avr_init(avr);
  avr->log = LOG_ERROR;
  avr->sleep = noSleep;
  avr_load_firmware(avr, &firmware);
  // No console echo of the UART and no host sleep while the firmware polls it.
  uint32_t flags = 0;
  avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
  return avr;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) return boardline::usage(argc, argv, kUsage);
  avr_global_logger_set(quietLogger);
  avr_t* avr = loadFirmware(options.firmware);
  if (!avr) return 1;

  boardline::Line line;
  if (!boardline::openLine("tarnwick-avr-board", line, true)) return 1;

  int inject = -1;
  if (!options.inject.empty()) {
    ::unlink(options.inject.c_str());
    // Read and write, so the FIFO never reads as ended between writers.
    if (::mkfifo(options.inject.c_str(), 0600) != 0 ||
        (inject = ::open(options.inject.c_str(), O_RDWR | O_NONBLOCK)) < 0) {
      std::perror("tarnwick-avr-board: --inject");
      return 1;
    }
  }
  if (!boardline::linkLine("tarnwick-avr-board", line, options.link)) return 1;
  boardline::stopOnSignals();

  say(line.path);
  Board board(avr, line.master, line.device, options.rxTimes);
  while (!boardline::gStop) {
    if (!board.catchUp()) break;
    board.watchSpeed();
    pollfd p[2] = {{line.master, POLLIN, 0}, {inject, POLLIN, 0}};
    // While the UART's buffer is full the line waits; only time moves on.
    const nfds_t count = board.full() ? 0 : inject >= 0 ? 2 : 1;
    if (::poll(p, count, board.pollTimeoutMs()) <= 0) continue;
    // Up to the moment the bytes came, so they go in at that moment.
    if (!board.catchUp()) break;
    board.watchSpeed();
    if (p[0].revents & POLLIN) board.receive(line.master);
    if (count > 1 && (p[1].revents & POLLIN)) board.receive(inject);
  }

  if (!options.inject.empty()) ::unlink(options.inject.c_str());
  if (inject >= 0) ::close(inject);
  boardline::closeLine(line);
  avr_terminate(avr);
  std::free(avr);
  return 0;
}
