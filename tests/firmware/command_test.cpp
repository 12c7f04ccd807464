// The firmware's command reader, built for the host: what the board answers
// and which outputs are on after the bytes of the line.

#include "command.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace {

using namespace std::string_literals;

struct Case {
  const char* name;
  std::string line;      // bytes received, in order
  std::string answers;   // everything the board sends back
  unsigned outputs;      // bit i: output i on afterwards
};

const Case kCases[] = {
    {"switches on", "P01", "P01 OK\r\n", 0x01},
    {"every port on", "P01P11P21P31P41", "P01 OK\r\nP11 OK\r\nP21 OK\r\nP31 OK\r\nP41 OK\r\n", 0x1f},
    {"on then off", "P41P40", "P41 OK\r\nP40 OK\r\n", 0x00},
    {"off touches no other port", "P11P31P10", "P11 OK\r\nP31 OK\r\nP10 OK\r\n", 0x08},
    {"P90 switches all off", "P01P21P41P90", "P01 OK\r\nP21 OK\r\nP41 OK\r\nP90 OK\r\n", 0x00},
    {"after P90 switching goes on", "P11P90P31", "P11 OK\r\nP90 OK\r\nP31 OK\r\n", 0x08},
    {"half a command waits", "P0", "", 0x00},
    {"no port 5", "P51P11", "ERR\r\nP11 OK\r\n", 0x02},
    {"level other than 0/1", "P02P01", "ERR\r\nP01 OK\r\n", 0x01},
    {"P91 and P80 are no commands", "P91P80", "ERR\r\nERR\r\n", 0x00},
    {"lower case", "p01P01", "ERR\r\nP01 OK\r\n", 0x01},
    {"one ERR for a run of garbage", "xyz\r\nP21", "ERR\r\nP21 OK\r\n", 0x04},
    {"a terminator after a command", "P01\r\nP00", "P01 OK\r\nERR\r\nP00 OK\r\n", 0x00},
    {"a stray P before a command", "PP01", "ERR\r\nP01 OK\r\n", 0x01},
    {"stray Ps before a command", "PPPP31", "ERR\r\nP31 OK\r\n", 0x08},
    {"a cut-off command before a command", "P0P11", "ERR\r\nP11 OK\r\n", 0x02},
    {"a bad command and garbage after it", "P5xyzP11", "ERR\r\nP11 OK\r\n", 0x02},
    {"two bad commands", "P51P52", "ERR\r\nERR\r\n", 0x00},
    {"a stray P after a command", "P01PP00", "P01 OK\r\nERR\r\nP00 OK\r\n", 0x00},
    {"a lost byte (NUL) inside a command", "P\0" "1P41"s, "ERR\r\nP41 OK\r\n", 0x10},
};

class Reader : public testing::TestWithParam<Case> {};

TEST_P(Reader, AnswersAndOutputs) {
  const Case& c = GetParam();
  CommandReader reader;
  std::string answers;
  for (char byte : c.line)
    if (const char* answer = reader.take(byte)) answers += answer;
  EXPECT_EQ(answers, c.answers);
  EXPECT_EQ(reader.outputs(), c.outputs);
}

INSTANTIATE_TEST_SUITE_P(Line, Reader, testing::ValuesIn(kCases), [](const testing::TestParamInfo<Case>& p) {
  std::string name;
  for (const char ch : std::string(p.param.name)) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  return name;
});

// A command acts on its third byte, not before.
TEST(Reader, SwitchesOnTheThirdByte) {
  CommandReader reader;
  EXPECT_EQ(reader.take('P'), nullptr);
  EXPECT_EQ(reader.take('2'), nullptr);
  EXPECT_EQ(reader.outputs(), 0u);
  ASSERT_NE(reader.take('1'), nullptr);
  EXPECT_EQ(reader.outputs(), 0x04u);
}

}  // namespace
