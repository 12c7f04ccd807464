// The registry functions on a machine without a registry: HKEY_LOCAL_MACHINE
// lives in <machine folder>/registry.reg. Readers read the file as it is;
// writers hold an exclusive lock on registry.reg.lock, re-read the file, and
// replace it by rename, so a crash leaves either the old or the new file.
#include "platform/winreg.h"

#include "platform/linux/machine.h"
#include "platform/portable/regfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

struct HKEY__ {
  std::string path;  // full path, "HKEY_LOCAL_MACHINE\..." without a trailing "\"
  REGSAM rights;
};

namespace {

const std::string kRoot = "HKEY_LOCAL_MACHINE";
constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK;

struct Handles {
  std::mutex mutex;
  std::set<HKEY> open;
};

Handles& handles() {
  static Handles table;
  return table;
}

HKEY newHandle(std::string path, REGSAM rights) {
  HKEY key = new HKEY__{std::move(path), rights};
  const std::lock_guard lock(handles().mutex);
  handles().open.insert(key);
  return key;
}

// The path and rights behind a handle; false for a handle never given out.
bool lookup(HKEY key, std::string& path, REGSAM& rights) {
  if (key == HKEY_LOCAL_MACHINE) {
    path = kRoot;
    rights = ~REGSAM{0};
    return true;
  }
  const std::lock_guard lock(handles().mutex);
  if (!handles().open.count(key)) return false;
  path = key->path;
  rights = key->rights;
  return true;
}

// key + "\" + subKey. A trailing "\" is allowed; empty levels and line breaks
// (which the file could not hold) are not.
LONG resolve(HKEY key, LPCSTR subKey, std::string& path) {
  REGSAM rights = 0;
  if (!lookup(key, path, rights)) return ERROR_INVALID_HANDLE;
  if (!subKey || !*subKey) return ERROR_SUCCESS;
  std::string sub(subKey);
  if (sub.back() == '\\') sub.pop_back();
  if (sub.empty() || sub.front() == '\\' || sub.find("\\\\") != std::string::npos ||
      sub.find_first_of("\r\n") != std::string::npos)
    return ERROR_INVALID_PARAMETER;
  path += '\\' + sub;
  return ERROR_SUCCESS;
}

std::string folder() { return platform::machineFolder(); }
std::string fileIn(const std::string& dir) { return dir + "/registry.reg"; }

// The registry as the file holds it; a missing file is an empty registry.
// The last file parsed, known by its identity and times: a start-up reads the
// same unchanged file a few dozen times, and every change replaces the file.
struct ParsedFile {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  timespec modified{}, changed{};
  regfile::Model model;

  bool sameAs(const std::string& file, const struct stat& st) const {
    return path == file && device == st.st_dev && inode == st.st_ino && size == st.st_size &&
           modified.tv_sec == st.st_mtim.tv_sec && modified.tv_nsec == st.st_mtim.tv_nsec &&
           changed.tv_sec == st.st_ctim.tv_sec && changed.tv_nsec == st.st_ctim.tv_nsec;
  }
};

LONG load(const std::string& dir, regfile::Model& model) {
  static ParsedFile last;
  const std::string file = fileIn(dir);
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno != ENOENT && errno != ENOTDIR) return ERROR_ACCESS_DENIED;
    model = {};
    return ERROR_SUCCESS;
  }
  struct stat st {};
  const bool known = ::fstat(fd, &st) == 0;
  if (known && last.sameAs(file, st)) {
    ::close(fd);
    model = last.model;
    return ERROR_SUCCESS;
  }
  std::string text;
  char buffer[65536];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  auto parsed = n == 0 ? regfile::parse(text) : std::nullopt;
  if (!parsed) return ERROR_BADDB;
  model = std::move(*parsed);
  if (known) last = ParsedFile{file, st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim, model};
  return ERROR_SUCCESS;
}

// Creates the folder and its missing parents. Returns true iff it is a folder.
bool makeFolder(const std::string& dir) {
  for (size_t at = dir.find('/', 1); at != std::string::npos; at = dir.find('/', at + 1))
    ::mkdir(dir.substr(0, at).c_str(), 0777);
  ::mkdir(dir.c_str(), 0777);
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The lock file, opened, when this process may replace the registry file: the
// folder takes new files, and the registry and lock files (when present) open
// for writing. Decided by trying rather than by file modes, which stop nothing
// for root. -1 otherwise.
int openLockIfWritable(const std::string& dir) {
  if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return -1;
  const int file = ::open(fileIn(dir).c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (file >= 0) ::close(file);
  else if (errno != ENOENT) return -1;
  return ::open((dir + "/registry.reg.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
}

bool writable(const std::string& dir) {
  const int lock = openLockIfWritable(dir);
  if (lock < 0) return false;
  ::close(lock);
  return true;
}

bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Replaces the registry file by a complete new one. REQUIRES: the lock is held,
// so the one temporary name cannot be in use by another writer.
bool replaceFile(const std::string& dir, const std::string& text) {
  const std::string file = fileIn(dir);
  const std::string temp = file + ".tmp";
  struct stat st {};
  const mode_t mode = ::stat(file.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, mode);
  if (fd < 0) return false;
  const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written || ::rename(temp.c_str(), file.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself must reach the disk before the change counts as made.
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

// Applies change to the registry as it is under the lock; when change reports
// that it changed something, the file is replaced. Failures to write show as
// ERROR_ACCESS_DENIED, the registry's answer to a hive it cannot write.
LONG transact(const std::function<bool(regfile::Model&)>& change) {
  const std::string dir = folder();
  if (!makeFolder(dir)) return ERROR_ACCESS_DENIED;
  const int lock = openLockIfWritable(dir);
  if (lock < 0) return ERROR_ACCESS_DENIED;
  while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
  }
  regfile::Model model;
  LONG rc = load(dir, model);
  if (rc == ERROR_SUCCESS && change(model) && !replaceFile(dir, regfile::serialize(model)))
    rc = ERROR_ACCESS_DENIED;
  ::close(lock);  // releases the lock
  return rc;
}

// The types advapi32's single-byte functions treat as text.
bool isTextType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// What opening and creating a key start with: the key's full path and the
// registry as it is now.
LONG startOpen(HKEY key, LPCSTR subKey, PHKEY result, std::string& path, std::string& dir,
               regfile::Model& model) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (const LONG rc = resolve(key, subKey, path)) return rc;
  dir = folder();
  return load(dir, model);
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM desired, PHKEY result) {
  std::string path, dir;
  regfile::Model model;
  if (const LONG rc = startOpen(key, subKey, result, path, dir, model)) return rc;
  if (path != kRoot && !regfile::keyExists(model, path)) return ERROR_FILE_NOT_FOUND;
  if ((desired & kWriteRights) && !writable(dir)) return ERROR_ACCESS_DENIED;
  *result = newHandle(std::move(path), desired);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
  std::string path;
  REGSAM rights = 0;
  if (!lookup(key, path, rights)) return ERROR_INVALID_HANDLE;
  if (!(rights & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (data && !size) return ERROR_INVALID_PARAMETER;
  // A query that finds nothing leaves REG_NONE and, when it asked only for the
  // size, a size of 0, as advapi32 does.
  if (type) *type = REG_NONE;
  if (!data && size) *size = 0;
  regfile::Model model;
  if (const LONG rc = load(folder(), model)) return rc;
  const regfile::Key* found = regfile::findKey(model, path);
  const regfile::Value* value = found ? regfile::findValue(*found, valueName ? valueName : "") : nullptr;
  if (!value) return ERROR_FILE_NOT_FOUND;
  const std::string& bytes = value->data;
  const auto needed = static_cast<DWORD>(bytes.size());
  if (type) *type = value->type;
  if (data) {
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    // A text stored without its zero byte gets one after it where the buffer
    // has room, not counted in the size, as NT does.
    if (isTextType(value->type) && needed > 0 && needed < *size && data[needed - 1] != 0)
      data[needed] = 0;
  }
  if (size) *size = needed;
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM desired,
                     LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  std::string path, dir;
  regfile::Model model;
  if (const LONG rc = startOpen(key, subKey, result, path, dir, model)) return rc;
  bool created = false;
  if (path != kRoot && !regfile::keyExists(model, path)) {
    const LONG rc = transact([&](regfile::Model& current) {
      created = regfile::addKey(current, path);
      return created;
    });
    if (rc) return rc;
  } else if ((desired & kWriteRights) && !writable(dir)) {
    return ERROR_ACCESS_DENIED;
  }
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = newHandle(std::move(path), desired);
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
  std::string path;
  REGSAM rights = 0;
  if (!lookup(key, path, rights)) return ERROR_INVALID_HANDLE;
  if (!(rights & KEY_SET_VALUE) || path == kRoot) return ERROR_ACCESS_DENIED;
  const std::string name = valueName ? valueName : "";
  if ((!data && size) || name.find_first_of("\r\n") != std::string::npos)
    return ERROR_INVALID_PARAMETER;
  // Exactly size bytes are read. A text counted without its zero byte (a C
  // string's length) is stored with one, as NT stores such a text when a zero
  // follows it; the byte after the count is never looked at, so a text given
  // without any zero behind it is stored with one too.
  std::string bytes = data ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
  if (isTextType(type) && !bytes.empty() && bytes.back() != 0) bytes.push_back('\0');
  return transact([&](regfile::Model& current) {
    // The key may have gone from the file since it was opened: bring it back.
    regfile::addKey(current, path);
    regfile::setValue(*regfile::findKey(current, path), name, type, std::move(bytes));
    return true;
  });
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  {
    const std::lock_guard lock(handles().mutex);
    if (!handles().open.erase(key)) return ERROR_INVALID_HANDLE;
  }
  delete key;
  return ERROR_SUCCESS;
}

}  // namespace platform
