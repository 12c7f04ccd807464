// Time to decode the LED pictures with the portable GIF decoder: the shipped
// OFF.gif, and 1 MB files whose image block claims 65535 x 65535 pixels on a
// 16 x 16 screen (plain and interlaced), the kind of file that once held the
// window back for seconds. Prints the median and worst of each, with the
// LZW codes read and the pixels taken per decode. Standard C++ only, so the
// same source builds with mingw-w64 and runs under Wine.
//   bench_gif_decode [runs] [path of OFF.gif]
//   x86_64-w64-mingw32-g++ -std=c++20 -O2 -Isrc -Itests -static bench/gif_decode.cpp
//     src/platform/portable/gif.cpp src/platform/portable/fault.cpp -o gif_decode.exe

#include "platform/portable/gif.h"
#include "support/gif_maker.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void time(const char* name, const std::vector<unsigned char>& bytes, int runs) {
  std::vector<double> ms;
  platform::gif::Work work;
  bool decoded = false;
  for (int i = 0; i < runs; ++i) {
    work = {};
    const auto start = Clock::now();
    decoded = platform::gif::decode(bytes, &work).has_value();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%-34s %8zu bytes  %-8s median %8.3f ms  max %8.3f ms  codes %8lld  pixels %6lld\n", name,
              bytes.size(), decoded ? "decoded" : "refused", ms[ms.size() / 2], ms.back(), work.codes, work.pixels);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::stoi(argv[1])) : 21;
  std::ifstream asset(argc > 2 ? argv[2] : "OFF.gif", std::ios::binary);  // the build folder has one
  const std::vector<unsigned char> off((std::istreambuf_iterator<char>(asset)), {});
  if (!off.empty()) time("OFF.gif (shipped, 20 x 20)", off, runs);
  time("1 MB, block 65535 x 65535 on 16x16", testing_gif::endlessRun(1 << 20, false), runs);
  time("the same, interlaced", testing_gif::endlessRun(1 << 20, true), runs);
  return 0;
}
