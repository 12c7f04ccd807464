// The settings store against a real registry.reg in a private machine folder:
// what a read returns, what lands in the file, and what survives crashes and a
// second writer.
#include "persist/regkeys.h"
#include "platform/clock.h"
#include "platform/portable/regfile.h"
#include "platform/winreg.h"
#include "forms/globals.h"
#include "support/machine.h"

#include "support/child.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <fstream>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using platform::REG_SZ;

const std::string kSettingsKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\" TARNWICK_COMPANY "\\" TARNWICK_PRODUCT;

// Reads a setting the way start-up does: name and default in, value out.
std::string readSetting(const std::string& name, const std::string& fallback) {
  g.gUpdateMode = 0;
  g.gKeyName = name;
  g.gKeyValue = fallback;
  Registry(g.gKeyName, g.gKeyValue);
  return g.gKeyValue;
}

// Writes a setting the way the configuration dialog saves it.
std::string writeSetting(const std::string& name, const std::string& value) {
  g.gUpdateMode = 1;
  g.gKeyName = name;
  g.gKeyValue = value;
  Registry(g.gKeyName, g.gKeyValue);
  return g.gKeyValue;
}

// A registry file holding the settings key with the given value lines.
std::string settingsFile(const std::string& valueLines) {
  return "REGEDIT4\r\n\r\n[" + kSettingsKey + "]\r\n" + valueLines + "\r\n";
}

// The stored value of the settings key, read with the file format's own reader.
std::optional<regfile::Value> stored(const TempMachine& machine, const std::string& name) {
  const auto model = regfile::parse(machine.readRegistry());
  if (!model) return std::nullopt;
  const regfile::Key* key = regfile::findKey(*model, kSettingsKey);
  const regfile::Value* value = key ? regfile::findValue(*key, name) : nullptr;
  if (!value) return std::nullopt;
  return *value;
}

// A REG_SZ value as the store writes it: the text with its zero byte.
regfile::Value text(const std::string& name, const std::string& data) {
  return regfile::Value{name, REG_SZ, data + '\0'};
}

// Text with its zero byte as a hex value's bytes: "61,62,00".
std::string hexText(const std::string& text) {
  std::string out;
  char byte[4];
  for (const char c : text + '\0') {
    std::snprintf(byte, sizeof byte, "%02x,", static_cast<unsigned char>(c));
    out += byte;
  }
  out.pop_back();
  return out;
}

ino_t inodeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// The log file's lines without their time stamps.
std::vector<std::string> reports(const TempMachine& machine) {
  std::vector<std::string> lines;
  for (const std::string& line : machine.logLines()) {
    const size_t tag = line.find(": [");
    lines.push_back(tag == std::string::npos ? line : line.substr(tag + 2));
  }
  return lines;
}

class RegKeys : public ::testing::Test {
 protected:
  void SetUp() override { g = Globals{}; }
  void TearDown() override {
    // A failed read is never an error report; only a refused write is.
    EXPECT_EQ(reports(machine), expectedReports);
    platform::setClockForTesting({});
    g = Globals{};
  }
  TempMachine machine;
  std::vector<std::string> expectedReports;
};

TEST_F(RegKeys, FirstReadOnAnEmptyFolderCreatesKeyAndValueWithTheDefault) {
  EXPECT_EQ(readSetting("Comm Speed", "9600"), "9600");
  EXPECT_EQ(machine.readRegistry(),
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick Works]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick Works\\Tarnwick]\r\n"
            "\"Comm Speed\"=\"9600\"\r\n\r\n");
}

TEST_F(RegKeys, FirstReadWithoutAMachineFolderMakesIt) {
  ASSERT_GT(std::filesystem::remove_all(machine.root() + "/data"), 0u);
  EXPECT_EQ(readSetting("Parity Control", "N"), "N");
  EXPECT_EQ(stored(machine, "Parity Control"), text("Parity Control", "N"));
}

TEST_F(RegKeys, TheKeyPathEndsWithABackslash) {
  EXPECT_EQ(SettingsKeyPath(), "SOFTWARE\\Tarnwick Works\\Tarnwick\\");
}

struct StoredForm {
  const char* name;
  std::string line;      // the value as the file holds it, after "Comm Speed"=
  std::string expected;  // what a read with the default "9600" returns
  bool replaced;         // true when the read writes the default over it
};

class RegKeysStoredForms : public RegKeys, public ::testing::WithParamInterface<StoredForm> {};

TEST_P(RegKeysStoredForms, ReadsTextAndNumbersAndReplacesEverythingElse) {
  const std::string before = settingsFile("\"Comm Speed\"=" + GetParam().line + "\r\n");
  machine.writeRegistry(before);
  EXPECT_EQ(readSetting("Comm Speed", "9600"), GetParam().expected);
  if (GetParam().replaced) {
    EXPECT_EQ(stored(machine, "Comm Speed"), text("Comm Speed", "9600"));
  } else {
    EXPECT_EQ(machine.readRegistry(), before) << "a read of a present value wrote the file";
  }
}

// n letters in quotes, as a value line holds a text.
std::string quotedLetters(size_t n) {
  std::string line(1, '"');
  line.append(n, 'a');
  line += '"';
  return line;
}

INSTANTIATE_TEST_SUITE_P(
    Values, RegKeysStoredForms,
    ::testing::Values(
        StoredForm{"Text", "\"19200\"", "19200", false},
        StoredForm{"BlankCountsAsPresent", "\" \"", " ", false},
        StoredForm{"HandWrittenNumber", "dword:00002580", "9600", false},
        StoredForm{"NumberWithTheTopBitShownUnsigned", "dword:ffffffff", "4294967295", false},
        StoredForm{"ExpandableTextUnexpanded", "hex(2):25,50,41,54,48,25,00", "%PATH%", false},
        StoredForm{"Windows1252Bytes", "\"\x80\xe9\"", "€é", false},
        StoredForm{"Text1023Bytes", quotedLetters(1023), std::string(1023, 'a'), false},
        // Longer than the first read's buffer: read again, whole, not replaced.
        StoredForm{"Text1024BytesFillsTheBuffer", quotedLetters(1024), std::string(1024, 'a'), false},
        StoredForm{"Text2000Bytes", quotedLetters(2000), std::string(2000, 'a'), false},
        StoredForm{"Text70000Bytes", quotedLetters(70000), std::string(70000, 'a'), false},
        StoredForm{"LongExpandableText", std::string("hex(2):").append(hexText(std::string(1500, 'c'))),
                   std::string(1500, 'c'), false},
        StoredForm{"EmptyText", "\"\"", "9600", true},
        StoredForm{"RawBytes", "hex:01,02", "9600", true},
        StoredForm{"ListOfTexts", "hex(7):61,00,62,00,00", "9600", true}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(RegKeys, AnEmptyDefaultIsStoredAsABlankAndHandedBack) {
  EXPECT_EQ(readSetting("Port 1", ""), " ");
  EXPECT_EQ(stored(machine, "Port 1"), text("Port 1", " "));
  EXPECT_EQ(readSetting("Port 1", "Server 1"), " ");
}

TEST_F(RegKeys, AnEmptyNewValueIsStoredAsABlankAndHandedBack) {
  machine.writeRegistry(settingsFile("\"Port 2\"=\"Server 2\"\r\n"));
  EXPECT_EQ(writeSetting("Port 2", ""), " ");
  EXPECT_EQ(stored(machine, "Port 2"), text("Port 2", " "));
}

TEST_F(RegKeys, WriteModeWritesTheSameValueAgainWithoutReading) {
  machine.writeRegistry(settingsFile("\"Comm Speed\"=\"9600\"\r\n"));
  const ino_t before = inodeOf(machine.registryFile());
  EXPECT_EQ(writeSetting("Comm Speed", "9600"), "9600");
  EXPECT_NE(inodeOf(machine.registryFile()), before) << "the value was not written again";
  EXPECT_EQ(stored(machine, "Comm Speed"), text("Comm Speed", "9600"));
}

TEST_F(RegKeys, WriteModeReplacesANumberWithText) {
  machine.writeRegistry(settingsFile("\"Comm Speed\"=dword:00002580\r\n"));
  EXPECT_EQ(writeSetting("Comm Speed", "19200"), "19200");
  EXPECT_EQ(stored(machine, "Comm Speed"), text("Comm Speed", "19200"));
}

TEST_F(RegKeys, ACharacterOutsideWindows1252ComesBackAsAQuestionMark) {
  EXPECT_EQ(readSetting("Port ☃", "Server ☃"), "Server ?");
  EXPECT_EQ(g.gKeyName, "Port ?");
  EXPECT_EQ(stored(machine, "Port ?"), text("Port ?", "Server ?"));

  EXPECT_EQ(writeSetting("Port 1", "Zoë € Ω"), "Zoë € ?");
  EXPECT_EQ(stored(machine, "Port 1"), text("Port 1", "Zo\xEB \x80 ?"));
  EXPECT_EQ(readSetting("Port 1", "x"), "Zoë € ?");
}

TEST_F(RegKeys, TheReportSaysWhatTheCallDid) {
  const platform::LocalTime when{2024, 1, 31, 13, 5, 9};
  platform::setClockForTesting([when] { return when; });
  const std::string stamp = platform::generalDate(when);

  readSetting("Data Bits", "8");
  EXPECT_EQ(g.gRegistryReport,
            stamp + " Error - 'Data Bits' registry entry doesn't exist. -----> CREATING...  "
                    "\n\r\n\r'Data Bits' = 8\n\r");
  readSetting("Data Bits", "7");
  EXPECT_EQ(g.gRegistryReport,
            stamp + " Reading 'Data Bits' registry entry. -----> SUCCESS...\n\r\n\r'Data Bits' = 8\n\r");
  writeSetting("Data Bits", "");
  EXPECT_EQ(g.gRegistryReport,
            stamp + " User Changed value of 'Data Bits'. Updating registry entry !!!!!!   "
                    "\n\r\n\rNew Value for 'Data Bits' =  \n\r");
}

TEST_F(RegKeys, GetKeyValueAndUpdateKeyWorkOnAnyKeyPath) {
  std::string path = "SOFTWARE\\Elsewhere\\";
  std::string name = "A";
  std::string value = "";
  EXPECT_EQ(GetKeyValue(0x80000002u, path, name), "");
  EXPECT_TRUE(UpdateKey(0x80000002u, path, name, value));
  EXPECT_EQ(value, " ");
  EXPECT_EQ(GetKeyValue(0x80000002u, path, name), " ");
  std::string otherRoot = "x";
  EXPECT_FALSE(UpdateKey(0x80000001u, path, name, otherRoot));
  expectedReports = {"[UpdateKey] Error (6) - The handle is invalid, Registry"};
}

// Ways a machine folder refuses writing even to root, for whom file modes stop
// nothing, while its registry file (where there is one) can still be read.
// Each is a real state of the file system, not a fake.
struct Unwritable {
  const char* name;
  // Prepares the refusal; false when it cannot be made for this user.
  bool (*prepare)(const TempMachine&);
  const char* speed;  // what a read of the stored "19200" gives
};

// The lock file cannot be opened for writing, so no writer can take the lock.
bool lockIsAFolder(const TempMachine& m) {
  return std::filesystem::create_directories(m.machineFolder() + "/registry.reg.lock");
}

// The machine folder lies under a regular file: it can neither exist nor be made.
bool folderUnderAFile(const TempMachine& m) {
  const std::string plain = m.root() + "/plain";
  if (!std::ofstream(plain)) return false;
  return ::setenv("XDG_DATA_HOME", plain.c_str(), 1) == 0;
}

// Plain file modes, which refuse only users other than root.
bool folderReadOnly(const TempMachine& m) {
  return ::geteuid() != 0 && ::chmod(m.machineFolder().c_str(), S_IRUSR | S_IXUSR) == 0;
}

class RegKeysUnwritable : public RegKeys, public ::testing::WithParamInterface<Unwritable> {
 protected:
  void TearDown() override {
    ::chmod(machine.machineFolder().c_str(), S_IRUSR | S_IWUSR | S_IXUSR);
    RegKeys::TearDown();
  }
};

// Settings that can be read are used; every write the store refuses (the
// missing value's default, a saved value) is reported with its error, and the
// file stays as it was.
TEST_P(RegKeysUnwritable, StoredValuesAreReadAndEveryRefusedWriteIsReported) {
  const std::string before = settingsFile("\"Comm Speed\"=\"19200\"\r\n");
  machine.writeRegistry(before);
  if (!GetParam().prepare(machine)) GTEST_SKIP() << "cannot be made for this user";
  const std::string refused = "[UpdateKey] Error (5) - Access is denied, Registry";
  for (int start = 0; start < 2; ++start) {
    EXPECT_EQ(readSetting("Comm Speed", "9600"), GetParam().speed);
    EXPECT_EQ(readSetting("Stop Bits", "1"), "1");
    expectedReports.push_back(refused);  // the missing "Stop Bits"
    if (std::string(GetParam().speed) == "9600") expectedReports.push_back(refused);
  }
  EXPECT_EQ(writeSetting("Comm Speed", "300"), "300");
  std::string path = SettingsKeyPath(), name = "Comm Speed", value = "300";
  EXPECT_FALSE(UpdateKey(0x80000002u, path, name, value));
  expectedReports.insert(expectedReports.end(), {refused, refused});
  EXPECT_EQ(machine.readRegistry(), before);
}

INSTANTIATE_TEST_SUITE_P(Refusals, RegKeysUnwritable,
                         ::testing::Values(Unwritable{"LockIsAFolder", lockIsAFolder, "19200"},
                                           Unwritable{"FolderUnderAFile", folderUnderAFile, "9600"},
                                           Unwritable{"FolderReadOnly", folderReadOnly, "19200"}),
                         [](const auto& row) { return std::string(row.param.name); });

// A file that cannot be parsed is never overwritten; the writes it refuses are
// reported.
TEST_F(RegKeys, AnUnparsableFileIsLeftByteForByte) {
  const std::string broken = settingsFile("\"Comm Speed\"=\"9600\r\n\"Parity Control\"=N\r\n");
  machine.writeRegistry(broken);
  EXPECT_EQ(readSetting("Comm Speed", "4800"), "4800");
  EXPECT_EQ(readSetting("Data Bits", "8"), "8");
  EXPECT_EQ(writeSetting("Comm Speed", "300"), "300");
  EXPECT_EQ(machine.readRegistry(), broken);
  EXPECT_FALSE(std::filesystem::exists(machine.registryFile() + ".tmp"));
  expectedReports.assign(3, "[UpdateKey] Error (1009) - The configuration registry database is corrupt, Registry");
}

// ---- A second process: crashes and concurrent writers --------------------

std::string writerProgram() { return TARNWICK_BUILD_DIR "/tests/regwriter"; }

// The settings key with count values "Seed i", so every rewrite is sizeable.
regfile::Model seededModel(int count) {
  regfile::Model model;
  regfile::addKey(model, kSettingsKey);
  for (int i = 0; i < count; ++i)
    regfile::setValue(model.keys.back(), "Seed " + std::to_string(i), REG_SZ,
                      std::string(60, static_cast<char>('a' + i % 26)) + '\0');
  return model;
}

// The machine folder for the tests below, on tmpfs where the system has one:
// they are about processes dying and racing, which the page cache sees the same
// way, and a disk's fsync (some 20 ms here) would stretch hundreds of rounds
// into minutes. Restored with the TempMachine.
class ScratchFolder {
 public:
  explicit ScratchFolder(const TempMachine& machine) {
    std::string shm = "/dev/shm/tarnwick-XXXXXX";
    if (::mkdtemp(shm.data())) shm_ = shm;
    const std::string base = shm_.empty() ? machine.root() + "/data" : shm_;
    std::filesystem::create_directories(base + "/tarnwick");
    ::setenv("XDG_DATA_HOME", base.c_str(), 1);
    file_ = base + "/tarnwick/registry.reg";
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!shm_.empty()) std::filesystem::remove_all(shm_, ignored);
  }
  std::string read() const {
    std::ifstream in(file_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void write(const std::string& bytes) const { std::ofstream(file_, std::ios::binary) << bytes; }
  bool tempLeftBehind() const { return std::filesystem::exists(file_ + ".tmp"); }

 private:
  std::string shm_;  // "" when /dev/shm is not there
  std::string file_;
};

bool waitForLine(ChildProcess& process, const std::string& line) {
  std::string got;
  if (!process.readLine(got, 10000)) return false;
  const size_t first = got.find_first_not_of(" \t\r");
  const size_t last = got.find_last_not_of(" \t\r");
  return (first == std::string::npos ? "" : got.substr(first, last + 1 - first)) == line;
}

// The writer program kills its own writing child with SIGKILL at a random
// moment, round after round, and waits while the file is looked at. Each kill
// must leave a complete file holding every other value unchanged, and the
// killed writer's value one it wrote in that round.
TEST_F(RegKeys, AWriterKilledAtAnyMomentLeavesACompleteFile) {
  constexpr int kRounds = 300;
  constexpr long long kStride = 1000000;  // as the writer numbers its rounds
  const ScratchFolder folder(machine);
  const regfile::Model seed = seededModel(60);
  folder.write(regfile::serialize(seed));
  ChildProcess writer(writerProgram(), {"crash", "Comm Speed", std::to_string(kRounds), "20240131"});
  ASSERT_TRUE(writer.started());
  int tempLeftBehind = 0;
  for (int round = 0; round < kRounds; ++round) {
    ASSERT_TRUE(waitForLine(writer, "killed " + std::to_string(round))) << "round " << round;
    const auto model = regfile::parse(folder.read());
    ASSERT_TRUE(model.has_value()) << "round " << round << ": the file is not complete";
    const regfile::Key* key = regfile::findKey(*model, kSettingsKey);
    ASSERT_NE(key, nullptr);
    for (const regfile::Value& value : seed.keys.back().values) {
      const regfile::Value* now = regfile::findValue(*key, value.name);
      ASSERT_TRUE(now && *now == value) << "round " << round << ": " << value.name;
    }
    const regfile::Value* speed = regfile::findValue(*key, "Comm Speed");
    ASSERT_NE(speed, nullptr);
    // The kill came after the round's first write, so the value is this round's.
    const long long n = std::stoll(speed->data);
    ASSERT_GE(n, round * kStride) << "round " << round;
    ASSERT_LT(n, (round + 1) * kStride) << "round " << round;
    if (folder.tempLeftBehind()) ++tempLeftBehind;
    writer.write("next\n");
  }
  EXPECT_EQ(writer.wait(10000), 0);
  std::cout << "[ figures  ] " << kRounds << " kills survived, " << tempLeftBehind
            << " of them mid-write (temporary file left behind)\n";
}

TEST_F(RegKeys, TwoWritersAtOnceLoseNoValue) {
  constexpr int kEach = 100;
  const ScratchFolder folder(machine);
  folder.write(regfile::serialize(seededModel(20)));
  ChildProcess first(writerProgram(), {"many", "First", std::to_string(kEach)});
  ChildProcess second(writerProgram(), {"many", "Second", std::to_string(kEach)});
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(second.started());
  // Both wait for this line, so their writes overlap.
  first.write("go\n");
  second.write("go\n");
  first.closeInput();
  second.closeInput();
  ASSERT_EQ(first.wait(60000), 0);
  ASSERT_EQ(second.wait(60000), 0);

  const auto model = regfile::parse(folder.read());
  ASSERT_TRUE(model.has_value());
  const regfile::Key* key = regfile::findKey(*model, kSettingsKey);
  ASSERT_NE(key, nullptr);
  int lost = 0;
  for (const char* prefix : {"First ", "Second "}) {
    for (int i = 0; i < kEach; ++i) {
      const std::string name = prefix + std::to_string(i);
      const regfile::Value* value = regfile::findValue(*key, name);
      if (!value || *value != text(name, std::to_string(i))) ++lost;
    }
  }
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(key->values.size(), 20u + 2 * kEach);
}

}  // namespace

namespace {

// Reads are served from the last parse only while the file is the same file:
// an edit by hand, even one that keeps the size, is seen by the next read.
TEST(RegistryFreshness, HandEditOfTheSameSizeIsSeenByTheNextRead) {
  TempMachine machine;
  machine.writeRegistry(settingsFile("\"Comm Speed\"=\"9600\""));
  EXPECT_EQ(readSetting("Comm Speed", "1200"), "9600");
  EXPECT_EQ(readSetting("Comm Speed", "1200"), "9600");
  machine.writeRegistry(settingsFile("\"Comm Speed\"=\"4800\""));
  EXPECT_EQ(readSetting("Comm Speed", "1200"), "4800");
  writeSetting("Comm Speed", "2400");
  EXPECT_EQ(readSetting("Comm Speed", "1200"), "2400");
}

}  // namespace
