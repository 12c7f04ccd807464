// The five registry functions over a real registry.reg in a private machine
// folder: sizes, rights, key creation, and what reaches the file.
#include "platform/portable/regfile.h"
#include "platform/winreg.h"
#include "support/machine.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using namespace platform;  // the registry's types, constants and functions

constexpr REGSAM kAllRights = 0x2003F;
const char* const kKey = "SOFTWARE\\Tarnwick Works\\Tarnwick\\";

// An open key, closed at the end of the scope.
struct OpenKey {
  HKEY handle = nullptr;
  ~OpenKey() {
    if (handle) RegCloseKey(handle);
  }
};

LONG create(OpenKey& key, const char* path, REGSAM rights = kAllRights, DWORD* disposition = nullptr) {
  char keyClass[] = "1";
  SECURITY_ATTRIBUTES security{.nLength = 50, .lpSecurityDescriptor = nullptr, .bInheritHandle = 1};
  return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, keyClass, REG_OPTION_NON_VOLATILE, rights,
                         &security, &key.handle, disposition);
}

LONG setText(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                        static_cast<DWORD>(text.size()));
}

ino_t inodeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class WinRegEmu : public ::testing::Test {
 protected:
  TempMachine machine;
};

TEST_F(WinRegEmu, TextComesBackWithItsZeroByteCountedInTheSize) {
  OpenKey key;
  ASSERT_EQ(create(key, kKey), ERROR_SUCCESS);
  ASSERT_EQ(setText(key.handle, "Without", "abc"), ERROR_SUCCESS);
  ASSERT_EQ(setText(key.handle, "With", std::string("abc\0", 4)), ERROR_SUCCESS);
  for (const char* name : {"Without", "With"}) {
    BYTE buffer[16] = {};
    DWORD size = sizeof buffer;
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExA(key.handle, name, nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 4u) << name;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), std::string("abc\0", 4));
  }
  EXPECT_EQ(registryValue(machine.readRegistry(), "With"), "abc");
}

// Only the counted bytes are read: a text in a buffer of exactly its length
// (nothing after it to look at; a read past it is caught by AddressSanitizer)
// is stored with a zero of its own, as a C string's length is.
TEST_F(WinRegEmu, ATextCountedWithoutAZeroIsReadNoFurtherAndStoredWithOne) {
  OpenKey key;
  ASSERT_EQ(create(key, kKey), ERROR_SUCCESS);
  const std::string text = "9600";
  const auto exact = std::make_unique<BYTE[]>(text.size());
  std::memcpy(exact.get(), text.data(), text.size());
  ASSERT_EQ(RegSetValueExA(key.handle, "Cut", 0, REG_SZ, exact.get(), static_cast<DWORD>(text.size())),
            ERROR_SUCCESS);
  EXPECT_NE(machine.readRegistry().find("\"Cut\"=\"9600\"\r\n"), std::string::npos);
  BYTE buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), 0xAB);
  DWORD size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExA(key.handle, "Cut", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), std::string("9600\0\xAB", 6));
}

TEST_F(WinRegEmu, ANullBufferAsksOnlyForTheSize) {
  OpenKey key;
  ASSERT_EQ(create(key, kKey), ERROR_SUCCESS);
  ASSERT_EQ(setText(key.handle, "A", "12345"), ERROR_SUCCESS);
  DWORD size = 0;
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExA(key.handle, "A", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(type, REG_SZ);
}

struct Fit {
  size_t textLength;
  LONG expected;
};

class WinRegBuffer : public WinRegEmu, public ::testing::WithParamInterface<Fit> {};

TEST_P(WinRegBuffer, DataThatDoesNotFitLeavesTheBufferUntouched) {
  OpenKey key;
  ASSERT_EQ(create(key, kKey), ERROR_SUCCESS);
  const std::string text(GetParam().textLength, 'x');
  ASSERT_EQ(setText(key.handle, "Long", text), ERROR_SUCCESS);
  std::vector<BYTE> buffer(1024, 0xAA);
  DWORD size = 1024;
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExA(key.handle, "Long", nullptr, &type, buffer.data(), &size),
            GetParam().expected);
  EXPECT_EQ(size, text.size() + 1);
  EXPECT_EQ(type, REG_SZ);
  if (GetParam().expected == ERROR_MORE_DATA) {
    EXPECT_EQ(buffer, std::vector<BYTE>(1024, 0xAA));
  } else {
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()), size), text + '\0');
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, WinRegBuffer,
                         ::testing::Values(Fit{3, ERROR_SUCCESS}, Fit{1023, ERROR_SUCCESS},
                                           Fit{1024, ERROR_MORE_DATA}, Fit{2000, ERROR_MORE_DATA}));

TEST_F(WinRegEmu, ANumberIsFourBytesLowFirstAndADwordLineInTheFile) {
  OpenKey key;
  ASSERT_EQ(create(key, kKey), ERROR_SUCCESS);
  const BYTE number[4] = {0x80, 0x25, 0, 0};
  ASSERT_EQ(RegSetValueExA(key.handle, "Speed", 0, REG_DWORD, number, 4), ERROR_SUCCESS);
  BYTE buffer[8] = {};
  DWORD size = sizeof buffer;
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExA(key.handle, "Speed", nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(buffer[0], 0x80);
  EXPECT_EQ(buffer[1], 0x25);
  EXPECT_NE(machine.readRegistry().find("\"Speed\"=dword:00002580\r\n"), std::string::npos);
}

TEST_F(WinRegEmu, MissingKeysAndValuesAreNotFoundAndCreateNothing) {
  OpenKey key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key.handle),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key.handle, nullptr);
  EXPECT_FALSE(std::filesystem::exists(machine.registryFile()));

  ASSERT_EQ(create(key, kKey), ERROR_SUCCESS);
  DWORD size = 4;
  BYTE buffer[4];
  EXPECT_EQ(RegQueryValueExA(key.handle, "Nothing", nullptr, nullptr, buffer, &size),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(WinRegEmu, CreateWritesASectionForEveryLevelOnceOnly) {
  OpenKey first;
  DWORD disposition = 0;
  ASSERT_EQ(create(first, kKey, kAllRights, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  const std::string text = machine.readRegistry();
  EXPECT_EQ(text,
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick Works]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick Works\\Tarnwick]\r\n\r\n");
  const ino_t before = inodeOf(machine.registryFile());

  OpenKey second;
  ASSERT_EQ(create(second, "software\\TARNWICK WORKS\\tarnwick", kAllRights, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(inodeOf(machine.registryFile()), before) << "opening an existing key rewrote the file";
}

TEST_F(WinRegEmu, KeyAndValueNamesMatchWhateverTheirCase) {
  OpenKey writer;
  ASSERT_EQ(create(writer, "SOFTWARE\\Mixed\\Case"), ERROR_SUCCESS);
  ASSERT_EQ(setText(writer.handle, "Comm Speed", "9600"), ERROR_SUCCESS);
  ASSERT_EQ(setText(writer.handle, "COMM SPEED", "19200"), ERROR_SUCCESS);

  OpenKey reader;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\MIXED\\case\\", 0, KEY_QUERY_VALUE,
                          &reader.handle),
            ERROR_SUCCESS);
  char buffer[16] = {};
  DWORD size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExA(reader.handle, "comm speed", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(buffer, "19200");
  const std::string text = machine.readRegistry();
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mixed\\Case]\r\n\"Comm Speed\"=\"19200\"\r\n"),
            std::string::npos)
      << text;
}

TEST_F(WinRegEmu, AKeyOpensRelativeToAnOpenKey) {
  OpenKey full;
  ASSERT_EQ(create(full, kKey), ERROR_SUCCESS);
  ASSERT_EQ(setText(full.handle, "A", "1"), ERROR_SUCCESS);
  OpenKey parent, child;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_QUERY_VALUE, &parent.handle),
            ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(parent.handle, "Tarnwick Works\\Tarnwick", 0, KEY_QUERY_VALUE,
                          &child.handle),
            ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(child.handle, "A", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 2u);
}

TEST_F(WinRegEmu, AHandleDoesOnlyWhatItsRightsAllow) {
  OpenKey setup;
  ASSERT_EQ(create(setup, kKey), ERROR_SUCCESS);
  ASSERT_EQ(setText(setup.handle, "A", "1"), ERROR_SUCCESS);
  OpenKey readOnly, writeOnly;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &readOnly.handle),
            ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, &writeOnly.handle),
            ERROR_SUCCESS);
  EXPECT_EQ(setText(readOnly.handle, "A", "2"), ERROR_ACCESS_DENIED);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(writeOnly.handle, "A", nullptr, nullptr, nullptr, &size),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(registryValue(machine.readRegistry(), "A"), "1");
}

TEST_F(WinRegEmu, HandlesNeverGivenOutAreRefused) {
  OpenKey key;
  ASSERT_EQ(create(key, kKey), ERROR_SUCCESS);
  HKEY closed = key.handle;
  ASSERT_EQ(RegCloseKey(key.handle), ERROR_SUCCESS);
  key.handle = nullptr;
  EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
  const HKEY currentUser = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u));
  OpenKey other;
  EXPECT_EQ(RegOpenKeyExA(currentUser, "SOFTWARE", 0, KEY_QUERY_VALUE, &other.handle),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(setText(nullptr, "A", "1"), ERROR_INVALID_HANDLE);
}

TEST_F(WinRegEmu, AMissingMachineFolderIsCreatedWithItsParents) {
  ASSERT_GT(std::filesystem::remove_all(machine.root() + "/data"), 0u);
  OpenKey key;
  ASSERT_EQ(create(key, kKey), ERROR_SUCCESS);
  ASSERT_EQ(setText(key.handle, "A", "1"), ERROR_SUCCESS);
  EXPECT_EQ(registryValue(machine.readRegistry(), "A"), "1");
}

TEST_F(WinRegEmu, ASetReplacesTheFileWholeAndKeepsWhatElseItHeld) {
  machine.writeRegistry(
      "REGEDIT4\n\n; kept by hand\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"Raw\"=hex:01,02,\\\n  03\n");
  OpenKey key;
  ASSERT_EQ(create(key, kKey), ERROR_SUCCESS);
  const ino_t before = inodeOf(machine.registryFile());
  ASSERT_EQ(setText(key.handle, "A", "1"), ERROR_SUCCESS);
  EXPECT_NE(inodeOf(machine.registryFile()), before) << "the file was changed in place";
  EXPECT_FALSE(std::filesystem::exists(machine.registryFile() + ".tmp"));
  EXPECT_EQ(machine.readRegistry(),
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\"Raw\"=hex:01,02,03\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick Works]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick Works\\Tarnwick]\r\n\"A\"=\"1\"\r\n\r\n");
}

TEST_F(WinRegEmu, AnUnparsableFileRefusesEveryCallAndStaysByteForByte) {
  OpenKey early;
  ASSERT_EQ(create(early, kKey), ERROR_SUCCESS);
  const std::string broken = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\"A\"=\"1\r\n";
  machine.writeRegistry(broken);
  OpenKey key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key.handle), ERROR_BADDB);
  EXPECT_EQ(create(key, kKey), ERROR_BADDB);
  EXPECT_EQ(create(key, "SOFTWARE\\New"), ERROR_BADDB);
  EXPECT_EQ(setText(early.handle, "A", "2"), ERROR_BADDB);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(early.handle, "A", nullptr, nullptr, nullptr, &size), ERROR_BADDB);
  EXPECT_EQ(machine.readRegistry(), broken);
  EXPECT_FALSE(std::filesystem::exists(machine.registryFile() + ".tmp"));
}

// Decided by trying, not by file modes (which stop nothing for root): here the
// lock file cannot be opened for writing, so no writer could take the lock.
TEST_F(WinRegEmu, WriteRightsAreRefusedWhereNoWriterCouldTakeTheLock) {
  const std::string seeded =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick Works\\Tarnwick]\r\n\"A\"=\"1\"\r\n\r\n";
  machine.writeRegistry(seeded);
  ASSERT_TRUE(std::filesystem::create_directories(machine.machineFolder() + "/registry.reg.lock"));

  OpenKey reader;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &reader.handle), ERROR_SUCCESS);
  for (const REGSAM rights : {kAllRights, KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_CREATE_LINK}) {
    OpenKey key;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, rights, &key.handle), ERROR_ACCESS_DENIED) << rights;
    EXPECT_EQ(create(key, kKey, rights), ERROR_ACCESS_DENIED) << rights;
    EXPECT_EQ(create(key, "SOFTWARE\\New", rights), ERROR_ACCESS_DENIED) << rights;
  }
  EXPECT_EQ(machine.readRegistry(), seeded);
}

// The machine folder lies under a regular file: it can neither exist nor be made.
TEST_F(WinRegEmu, CreateIsRefusedWhereTheMachineFolderCannotBeMade) {
  const std::string plain = machine.root() + "/plain";
  ASSERT_TRUE(std::ofstream(plain));
  ::setenv("XDG_DATA_HOME", plain.c_str(), 1);
  OpenKey key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key.handle), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(create(key, kKey, KEY_QUERY_VALUE), ERROR_ACCESS_DENIED);
}

}  // namespace
