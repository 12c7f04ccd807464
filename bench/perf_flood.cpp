// bench_perf_flood: the whole program in this process (offscreen unless
// QT_QPA_PLATFORM says otherwise) with 1 MB/s of random bytes, NUL included,
// written into COM1's far end for 5 s, twice. A 10 ms precise timer on the GUI
// thread measures how late the event loop gets; the main thread's CPU time,
// the resident set and the message log's line count are read around it.

#include "support/program.h"

#include "shell/main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

long rssKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

double percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

// Runs the event loop for `ms`.
void run(int ms) {
  QTimer::singleShot(ms, qApp, [] { QCoreApplication::exit(); });
  QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  platform::installQtToolkit();

  Program program;
  program.start();
  run(500);

  std::printf("| flood | bytes taken | GUI thread CPU | timer lateness p50 / p99 / max | message log lines (max) | RSS before | RSS 2 s after |\n"
              "|---|---|---|---|---|---|---|\n");
  std::mt19937 rng(3);
  for (int f = 1; f <= 2; ++f) {
    std::vector<double> lateness;
    int maxLines = 0;
    QElapsedTimer clock;
    qint64 last = -1;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      const qint64 t = clock.nsecsElapsed();
      if (last >= 0) lateness.push_back(static_cast<double>(t - last - 10000000) / 1e6);
      last = t;
      maxLines = std::max(maxLines, Main().List1->listCount());
    });

    const long rssBefore = rssKb();
    const double cpuBefore = threadCpuMs();
    std::atomic<long> written{0};
    const int far = program.line->farEnd();
    std::thread writer([&, seed = rng()] {
      std::mt19937 bytes(seed);
      std::vector<char> slice(10000);
      const auto start = std::chrono::steady_clock::now();
      for (int s = 0; s < 500; ++s) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * s));
        for (char& c : slice) c = static_cast<char>(bytes() & 0xff);
        const ssize_t n = ::write(far, slice.data(), slice.size());
        if (n > 0) written += n;
      }
    });
    clock.start();
    tick.start();
    run(5000);
    writer.join();
    const double cpu = threadCpuMs() - cpuBefore;
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    run(2000);
    tick.stop();
    std::printf("| %d | %ld | %.0f ms (%.1f %% of a core) | %.2f / %.2f / %.2f ms | %d | %.1f MB | %.1f MB |\n", f,
                written.load(), cpu, cpu / 10 / seconds, percentile(lateness, 0.5), percentile(lateness, 0.99),
                percentile(lateness, 1.0), maxLines, static_cast<double>(rssBefore) / 1024,
                static_cast<double>(rssKb()) / 1024);
  }
  program.stop();
  return 0;
}
