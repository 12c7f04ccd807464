// The daily log file and the common error report: the bytes that land in
// TWK<yyyymmdd>.log in the current directory.
#include "persist/errorreport.h"
#include "persist/writelog.h"
#include "platform/clock.h"
#include "platform/fault.h"
#include "forms/globals.h"
#include "support/machine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

const platform::LocalTime kDay{2024, 1, 31, 13, 5, 9};

void faultTypeMismatch() { platform::raise(platform::faults::kTypeMismatch, "Type mismatch"); }

class WriteLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g = Globals{};
    setClock(kDay);
  }
  void TearDown() override {
    platform::setClockForTesting({});
    g = Globals{};
  }

  void setClock(const platform::LocalTime& when) {
    platform::setClockForTesting([when] { return when; });
  }
  std::string logFile(const std::string& name) const { return readFile(machine.workDir() + "/" + name); }
  static std::string stamp(const platform::LocalTime& when) { return platform::generalDate(when); }

  TempMachine machine;
};

TEST_F(WriteLogTest, AReportIsOneCrlfLineInTheDaysFileInTheCurrentDirectory) {
  Steps("[Form_Load] Error (")(faultTypeMismatch);
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(machine.workDir()))
    files.push_back(entry.path().filename().string());
  EXPECT_EQ(files, std::vector<std::string>{"TWK20240131.log"});
  EXPECT_EQ(logFile("TWK20240131.log"),
            stamp(kDay) + ": [Form_Load] Error (13) - Type mismatch, Tarnwick\r\n");
}

TEST_F(WriteLogTest, TheLineIsWindows1252) {
  Steps("[HandleInput] Error (")([] { platform::raise(5, "Zoë € ☃", "MSComm"); });
  EXPECT_EQ(logFile("TWK20240131.log"),
            stamp(kDay) + ": [HandleInput] Error (5) - Zo\xEB \x80 ?, MSComm\r\n");
}

struct Message {
  const char* name;
  platform::Fault fault;
  std::string expected;  // after the tag
};

class WriteLogMessages : public WriteLogTest, public ::testing::WithParamInterface<Message> {};

TEST_P(WriteLogMessages, NumberDescriptionAndSourceFollowTheTag) {
  ReportError("[btnSave_Click] Error (", GetParam().fault);
  EXPECT_EQ(logFile("TWK20240131.log"),
            stamp(kDay) + ": [btnSave_Click] Error (" + GetParam().expected + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Forms, WriteLogMessages,
    ::testing::Values(
        Message{"ProgramFault", {13, "Type mismatch", "Tarnwick"}, "13) - Type mismatch, Tarnwick"},
        Message{"EmptyDescriptionAndSource", {5, "", ""}, "5) - , "},
        Message{"NegativeNumber", {-2147467259, "Unspecified", "Tarnwick"},
                "-2147467259) - Unspecified, Tarnwick"},
        Message{"SerialControl", {8002, "Invalid port number", "MSComm"},
                "8002) - Invalid port number, MSComm"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(WriteLogTest, ASecondReportAppendsAndTheNextDayStartsANewFile) {
  const Steps step("[btnExit_Click] Error (");
  step(faultTypeMismatch);
  const platform::LocalTime later{2024, 1, 31, 13, 6, 9};
  setClock(later);
  step(faultTypeMismatch);
  const platform::LocalTime nextDay{2024, 2, 1, 0, 0, 1};
  setClock(nextDay);
  step(faultTypeMismatch);

  const std::string line = ": [btnExit_Click] Error (13) - Type mismatch, Tarnwick\r\n";
  EXPECT_EQ(logFile("TWK20240131.log"), stamp(kDay) + line + stamp(later) + line);
  EXPECT_EQ(logFile("TWK20240201.log"), stamp(nextDay) + line);
}

class WriteLogSwitch : public WriteLogTest, public ::testing::WithParamInterface<int16_t> {};

TEST_P(WriteLogSwitch, EveryReportIsWrittenAndLeavesTheSwitchOff) {
  g.gErrorLog = GetParam();
  Steps("[StoreSettings] Error (")(faultTypeMismatch);
  EXPECT_EQ(machine.logLines().size(), 1);
  EXPECT_EQ(g.gErrorLog, 0);
}

INSTANTIATE_TEST_SUITE_P(ErrorLogSetting, WriteLogSwitch, ::testing::Values(0, 1, -1, 2));

TEST_F(WriteLogTest, TheWriterItselfWritesOnlyWhileTheSwitchIsOne) {
  g.gErrorLog = 0;
  WriteLog("not written");
  g.gErrorLog = 2;
  WriteLog("not written either");
  EXPECT_EQ(logFile("TWK20240131.log"), std::string());
  g.gErrorLog = 1;
  WriteLog("written");
  EXPECT_EQ(logFile("TWK20240131.log"), stamp(kDay) + ": written\r\n");
  EXPECT_EQ(g.gErrorLog, 1);
}

// A current directory that takes no file, even for root: a real state of the
// file system each time.
struct Refusal {
  const char* name;
  void (*prepare)(const TempMachine&);
};

// The day's file name is taken by a folder.
void nameIsAFolder(const TempMachine& m) { std::filesystem::create_directory(m.workDir() + "/TWK20240131.log"); }

// The current directory has been removed from under the process.
void directoryRemoved(const TempMachine& m) {
  std::filesystem::create_directory(m.workDir() + "/gone");
  std::filesystem::current_path(m.workDir() + "/gone");
  std::error_code kept;
  if (!std::filesystem::remove(m.workDir() + "/gone", kept))
    GTEST_SKIP() << "this system does not remove a process's current directory";
}

class WriteLogRefused : public WriteLogTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(WriteLogRefused, TheLineIsLostSilentlyAndTheProcedureGoesOn) {
  GetParam().prepare(machine);
  if (IsSkipped()) return;
  const Steps step("[Form_Load] Error (");
  bool carriedOn = false;
  step(faultTypeMismatch);
  step([&] { carriedOn = true; });
  EXPECT_TRUE(carriedOn);
  EXPECT_EQ(g.gErrorLog, 0);
  EXPECT_EQ(machine.logLines(), std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(CurrentDirectory, WriteLogRefused,
                         ::testing::Values(Refusal{"NameIsAFolder", nameIsAFolder},
                                           Refusal{"DirectoryRemoved", directoryRemoved}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(WriteLogTest, AFaultInTheThirdStepIsReportedAndTheFourthStillRuns) {
  const Steps step("[Form_Load] Error (");
  std::vector<int> ran;
  step([&] { ran.push_back(1); });
  step([&] { ran.push_back(2); });
  step([&] {
    faultTypeMismatch();
    ran.push_back(3);
  });
  step([&] { ran.push_back(4); });
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 4}));
  EXPECT_EQ(machine.logLines(),
            std::vector<std::string>{stamp(kDay) + ": [Form_Load] Error (13) - Type mismatch, Tarnwick"});
}

TEST_F(WriteLogTest, TwoFaultsWriteTwoLinesInTheirOrder) {
  const Steps step("[btnSave_Click] Error (");
  step([] { platform::raise(380, "Invalid property value"); });
  step([] {});
  step([] { platform::raise(8018, "Operation valid only when the port is open", "MSComm"); });
  EXPECT_EQ(machine.logLines(),
            (std::vector<std::string>{stamp(kDay) + ": [btnSave_Click] Error (380) - Invalid property value, Tarnwick",
                         stamp(kDay) + ": [btnSave_Click] Error (8018) - Operation valid only when "
                                       "the port is open, MSComm"}));
}

TEST_F(WriteLogTest, ATestThatFaultsRunsTheStepItGuards) {
  const Steps step("[Form_Load] Error (");
  bool guarded = false;
  if (step.test([] {
        faultTypeMismatch();
        return false;
      }))
    guarded = true;
  EXPECT_TRUE(guarded);
  bool notGuarded = false;
  if (step.test([] { return false; })) notGuarded = true;
  EXPECT_FALSE(notGuarded);
  EXPECT_EQ(machine.logLines().size(), 1);
}

}  // namespace
