// The date and time that begin log-file and message-log lines, in the locales
// operators use: a four-digit year, and nothing the log file cannot hold.
#include "persist/errorreport.h"
#include "platform/clock.h"
#include "forms/globals.h"
#include "support/machine.h"

#include <QLocale>
#include <gtest/gtest.h>

namespace {

struct Stamp {
  const char* locale;
  const char* text;  // the stamp for 31 January 2024, 15:04:05
};

class LogStamp : public ::testing::TestWithParam<Stamp> {
 protected:
  void TearDown() override {
    QLocale::setDefault(QLocale::system());
    platform::setClockForTesting({});
    g = Globals{};
  }
};

TEST_P(LogStamp, HasAFourDigitYearAndOnlyCharactersTheLogFileHolds) {
  TempMachine machine;
  platform::setClockForTesting([] { return platform::LocalTime{2024, 1, 31, 15, 4, 5}; });
  QLocale::setDefault(QLocale(QString::fromLatin1(GetParam().locale)));
  ReportError("[Form_Load] Error (", platform::Fault{13, "Type mismatch", "Tarnwick"});
  EXPECT_EQ(readFile(machine.workDir() + "/TWK20240131.log"),
            std::string(GetParam().text) + ": [Form_Load] Error (13) - Type mismatch, Tarnwick\r\n");
  // The message log's lines begin with the same text.
  EXPECT_EQ(platform::generalDate(platform::now()), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Locales, LogStamp,
                         ::testing::Values(Stamp{"C", "31 Jan 2024 15:04:05"},
                                           Stamp{"en_US", "1/31/2024 3:04:05 PM"},
                                           Stamp{"de_DE", "31.01.2024 15:04:05"},
                                           Stamp{"ja_JP", "2024-01-31 15:04:05"}),
                         [](const auto& row) { return std::string(row.param.locale); });

}  // namespace
