// The registry functions on a machine without a registry: HKEY_LOCAL_MACHINE
// lives in <machine folder>/registry.reg. Readers read the file as it is;
// writers hold an exclusive lock on registry.reg.lock, re-read the file, and
// replace it by rename, so a crash leaves either the old or the new file.
// What the functions do with the file's contents is portable
// (platform/portable/winreg_emu.cpp); here are the file and its lock.
#include "platform/winreg.h"

#include "platform/linux/machine_linux.h"
#include "platform/portable/regfile.h"
#include "platform/portable/winreg_emu.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

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

LONG loadFrom(const std::string& dir, regfile::Model& model) {
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

// registry.reg in the machine folder, looked up afresh on every call so that
// tests can point it elsewhere.
class MachineRegistryFile : public RegistryFile {
 public:
  LONG load(regfile::Model& model) override { return loadFrom(machineFolder(), model); }

  bool writable() override {
    const int lock = openLockIfWritable(machineFolder());
    if (lock < 0) return false;
    ::close(lock);
    return true;
  }

  // Failures to write show as ERROR_ACCESS_DENIED, the registry's answer to a
  // hive it cannot write.
  LONG transact(const std::function<bool(regfile::Model&)>& change) override {
    const std::string dir = machineFolder();
    if (!makeFolder(dir)) return ERROR_ACCESS_DENIED;
    const int lock = openLockIfWritable(dir);
    if (lock < 0) return ERROR_ACCESS_DENIED;
    while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    regfile::Model model;
    LONG rc = loadFrom(dir, model);
    if (rc == ERROR_SUCCESS && change(model) && !replaceFile(dir, regfile::serialize(model)))
      rc = ERROR_ACCESS_DENIED;
    ::close(lock);  // releases the lock
    return rc;
  }
};

RegistryFile& machineRegistry() {
  static MachineRegistryFile file;
  return file;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM desired, PHKEY result) {
  return winreg_emu::openKey(machineRegistry(), key, subKey, desired, result);
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
  return winreg_emu::queryValue(machineRegistry(), key, valueName, type, data, size);
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM desired,
                     LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  return winreg_emu::createKey(machineRegistry(), key, subKey, desired, result, disposition);
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
  return winreg_emu::setValue(machineRegistry(), key, valueName, type, data, size);
}

LONG RegCloseKey(HKEY key) { return winreg_emu::closeKey(key); }

}  // namespace platform
