// libFuzzer target for the REGEDIT4 reader and writer.
//
// An input starting with "R" is a registry text (the seeds are plain .reg
// files). Whatever the reader accepts, the writer writes, and that text reads
// back to the same model and writes again to the same text.
// Any other input builds a model through the editing calls, the way the
// registry functions do (names without line breaks, any data bytes); its text
// must read back to the same model.
#include "platform/portable/regfile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void fail(const char* what, const std::string& text) {
  std::fprintf(stderr, "round trip broken: %s\n--- text ---\n%s\n--- end ---\n", what, text.c_str());
  std::abort();
}

void checkRoundTrip(const regfile::Model& model) {
  const std::string text = regfile::serialize(model);
  const auto again = regfile::parse(text);
  if (!again) fail("written text does not read", text);
  if (!(*again == model)) fail("written text reads as another model", text);
  if (regfile::serialize(*again) != text) fail("second writing differs", text);
}

std::string withoutLineBreaks(std::string s) {
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

// One key path level: not empty, no "\" and no line break.
std::string level(FuzzedDataProvider& in) {
  std::string s = withoutLineBreaks(in.ConsumeRandomLengthString(24));
  for (char& c : s)
    if (c == '\\') c = '_';
  return s.empty() ? std::string("k") : s;
}

void buildModel(FuzzedDataProvider& in) {
  regfile::Model model;
  const int keys = in.ConsumeIntegralInRange(0, 6);
  for (int k = 0; k < keys && in.remaining_bytes() > 0; ++k) {
    std::string path = "HKEY_LOCAL_MACHINE";
    const int depth = in.ConsumeIntegralInRange(1, 3);
    for (int d = 0; d < depth; ++d) path += "\\" + level(in);
    regfile::addKey(model, path);
    regfile::Key* key = regfile::findKey(model, path);
    const int values = in.ConsumeIntegralInRange(0, 8);
    for (int v = 0; v < values && in.remaining_bytes() > 0; ++v) {
      const std::string name = withoutLineBreaks(in.ConsumeRandomLengthString(32));
      static constexpr uint32_t kTypes[] = {0, 1, 2, 3, 4, 7, 11, 0x12345678};
      const uint32_t type = in.ConsumeBool() ? in.PickValueInArray(kTypes) : in.ConsumeIntegral<uint32_t>();
      regfile::setValue(*key, name, type, in.ConsumeRandomLengthString(1100));
    }
  }
  checkRoundTrip(model);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] != 'R') {
    FuzzedDataProvider in(data + 1, size - 1);
    buildModel(in);
    return 0;
  }
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (const auto model = regfile::parse(text)) checkRoundTrip(*model);
  return 0;
}
