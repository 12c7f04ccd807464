// A second program writing settings, for the crash and concurrency tests of
// the settings store. The machine folder comes from XDG_DATA_HOME.
//
//   regwriter crash NAME ROUNDS SEED
//       ROUNDS times: forks a child that writes NAME = round * 1000000, +1, ...
//       without end, kills it with SIGKILL a random 0-2 ms after its first
//       write, prints "killed <round>" and waits for a line on stdin (the
//       caller looks at the file meanwhile).
//   regwriter many PREFIX COUNT
//       waits for a line on stdin, then writes PREFIX + " " + i = i, i < COUNT.
//   regwriter time COUNT
//       writes COUNT values and prints the microseconds per write.
#include "persist/regkeys.h"
#include "platform/clock.h"
#include "forms/globals.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr long long kStride = 1000000;

void write(const std::string& name, const std::string& value) {
  g.gUpdateMode = 1;
  g.gKeyName = name;
  g.gKeyValue = value;
  Registry(g.gKeyName, g.gKeyValue);
}

// The child's endless loop; one byte on ready once the first value is written.
[[noreturn]] void writeForever(const std::string& name, long long first, int ready) {
  for (long long n = first;; ++n) {
    write(name, std::to_string(n));
    if (n == first) {
      const char byte = 1;
      if (::write(ready, &byte, 1) != 1) std::_Exit(3);
    }
  }
}

int crash(const std::string& name, int rounds, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> pauseMicros(0, 2000);
  // Loads the locale and time zone here once, rather than in every child.
  platform::generalDate(platform::now());
  for (int round = 0; round < rounds; ++round) {
    int ready[2];
    if (::pipe(ready) != 0) return 1;
    const pid_t child = ::fork();
    if (child < 0) return 1;
    if (child == 0) writeForever(name, round * kStride, ready[1]);
    ::close(ready[1]);
    char byte = 0;
    const bool started = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (started) std::this_thread::sleep_for(std::chrono::microseconds(pauseMicros(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!started) return 1;
    std::printf("killed %d\n", round);
    std::fflush(stdout);
    std::string next;
    if (!std::getline(std::cin, next)) return 1;
  }
  return 0;
}

int usage() {
  std::fprintf(stderr, "usage: regwriter crash NAME ROUNDS SEED | many PREFIX COUNT | time COUNT\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "crash" && argc == 5)
    return crash(std::string(argv[2]), std::atoi(argv[3]),
                 static_cast<unsigned>(std::atoi(argv[4])));
  if (mode == "many" && argc == 4) {
    std::string go;
    std::getline(std::cin, go);
    const std::string prefix = std::string(argv[2]);
    for (int i = 0, count = std::atoi(argv[3]); i < count; ++i)
      write(prefix + " " + std::to_string(i), std::to_string(i));
    return 0;
  }
  if (mode == "time" && argc == 3) {
    const int count = std::max(std::atoi(argv[2]), 1);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) write("Comm Speed", std::to_string(i));
    const auto spent = std::chrono::steady_clock::now() - start;
    std::printf("%.1f us per write\n", std::chrono::duration<double, std::micro>(spent).count() / count);
    return 0;
  }
  return usage();
}
