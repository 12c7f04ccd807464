#include "support/machine.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include <random>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// A new folder of its own under the temporary folder.
std::string makeTempFolder() {
#ifdef _WIN32
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path folder = fs::temp_directory_path() / ("tarnwick-test-" + std::to_string(random()));
    if (fs::create_directory(folder)) return folder.string();
  }
  throw std::runtime_error("no temporary folder");
#else
  std::string pattern = (fs::temp_directory_path() / "tarnwick-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  return pattern;
#endif
}

void setEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  ::setenv(name, value.c_str(), 1);
#endif
}

void unsetEnv(const char* name) {
#ifdef _WIN32
  _putenv_s(name, "");  // an empty value removes it
#else
  ::unsetenv(name);
#endif
}

}  // namespace

TempMachine::TempMachine() {
  root_ = makeTempFolder();
  const char* xdg = std::getenv("XDG_DATA_HOME");
  hadXdg_ = xdg != nullptr;
  if (xdg) oldXdg_ = xdg;
  oldCwd_ = fs::current_path().string();
  fs::create_directories(root_ + "/data/tarnwick");
  fs::create_directories(root_ + "/work");
  setEnv("XDG_DATA_HOME", root_ + "/data");
  fs::current_path(workDir());
}

TempMachine::~TempMachine() {
  std::error_code ignored;
  fs::current_path(oldCwd_, ignored);
  if (hadXdg_) setEnv("XDG_DATA_HOME", oldXdg_);
  else unsetEnv("XDG_DATA_HOME");
  // A test may have taken rights away; give them back so everything goes.
  for (auto it = fs::recursive_directory_iterator(root_, ignored); it != fs::recursive_directory_iterator();
       it.increment(ignored)) {
    if (!it->is_symlink(ignored)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(root_, ignored);
}

std::string TempMachine::machineFolder() const { return root_ + "/data/tarnwick"; }

void TempMachine::writeRegistry(const std::string& bytes) const {
  std::ofstream out(registryFile(), std::ios::binary);
  out << bytes;
}

std::string TempMachine::readRegistry() const { return readFile(registryFile()); }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> TempMachine::logLines() const {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(workDir(), ignored)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file(ignored) && name.starts_with("TWK") && name.ends_with(".log")) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> lines;
  for (const std::string& name : names) {
    std::istringstream all(readFile(workDir() + "/" + name));
    std::string line;
    while (std::getline(all, line)) {
      if (line.empty()) continue;
      if (line.back() == '\r') line.pop_back();
      lines.push_back(latin1ToUtf8(line));
    }
  }
  return lines;
}

void TempMachine::linkComPort(int port, const std::string& device) const {
  fs::create_directories(machineFolder() + "/dosdevices");
  const std::string link = machineFolder() + "/dosdevices/com" + std::to_string(port);
  std::error_code ignored;
  fs::remove(link, ignored);
  fs::create_symlink(device, link, ignored);
}

std::string latin1ToUtf8(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | b >> 6));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return out;
}

std::string registryValue(const std::string& file, const std::string& name) {
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  const std::string wanted = lower("\"" + name + "\"=\"");
  std::istringstream lines(file);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (lower(line.substr(0, wanted.size())) != wanted) continue;
    std::string v;
    size_t i = wanted.size();
    for (; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        if (line[i + 1] == '"' || line[i + 1] == '\\') ++i;
        else v.push_back(line[i++]);  // kept as written
      }
      v.push_back(line[i]);
    }
    if (i + 1 != line.size()) continue;  // no closing quote at the end of the line
    return latin1ToUtf8(v);
  }
  return {};
}

std::string joined(const std::vector<std::string>& lines, const std::string& separator) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) out += separator;
    out += lines[i];
  }
  return out;
}
