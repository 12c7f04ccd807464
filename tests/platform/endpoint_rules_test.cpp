// The endpoint's byte rules that both systems share, as tables: where the
// request bound lies (a line of kMostRequestBytes with its "\n" is taken, one
// byte more is refused, before its end arrives), "\r\n" ends, a request in
// pieces, what counts after it; and tarnwick-switch's cutting of the owner's
// bytes into lines. Built for Linux and, with mingw-w64, for Windows.

#include "platform/portable/endpoint_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::kMostRequestBytes;
using platform::endpoint_rules::LineSplitter;
using platform::endpoint_rules::RequestReader;
using Heard = RequestReader::Heard;

// What the reader says, in order, with each request's line, for bytes that
// arrive in the given pieces.
std::vector<std::string> hear(const std::vector<std::string>& pieces) {
  RequestReader reader;
  std::vector<std::string> heard;
  for (const std::string& piece : pieces) {
    reader.take(piece.data(), piece.size());
    for (Heard h; (h = reader.next()) != Heard::Nothing;) {
      if (h == Heard::Request) heard.push_back("request " + reader.request());
      if (h == Heard::TooLong) heard.push_back("too long");
      if (h == Heard::Cancel) heard.push_back("cancel");
    }
  }
  return heard;
}

struct ReaderRow {
  const char* name;
  std::vector<std::string> pieces;
  std::vector<std::string> heard;
};

class RequestReaderTest : public ::testing::TestWithParam<ReaderRow> {};

TEST_P(RequestReaderTest, Hears) { EXPECT_EQ(hear(GetParam().pieces), GetParam().heard); }

const std::string kLongest(kMostRequestBytes - 1, 'x');

INSTANTIATE_TEST_SUITE_P(
    Rows, RequestReaderTest,
    ::testing::Values(
        ReaderRow{"longestLineIsTaken", {kLongest + "\n"}, {"request " + kLongest}},
        ReaderRow{"oneByteMoreIsRefused", {kLongest + "x\n"}, {"too long"}},
        ReaderRow{"refusedBeforeItsEnd", {kLongest + "x"}, {"too long"}},
        ReaderRow{"nothingAfterRefusal", {kLongest + "x", "\ncancel\n"}, {"too long"}},
        ReaderRow{"crlfEnds", {"on 3\r\n", "cancel\r\n"}, {"request on 3", "cancel"}},
        ReaderRow{"inPieces", {"o", "n 3", "\nca", "ncel\n"}, {"request on 3", "cancel"}},
        ReaderRow{"halfLineIsNothing", {"on 3"}, {}},
        ReaderRow{"onlyCancelCountsAfter", {"on 3\nstop\ncancel now\n\ncancel\n"}, {"request on 3", "cancel"}},
        ReaderRow{"floodAfterRequestIsDropped",
                  {"on 3\n", std::string(100000, 'y'), "\ncancel\n"},
                  {"request on 3", "cancel"}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(RefusalTest, SaysWhyThenStatusTwo) {
  using namespace platform::endpoint_rules;
  EXPECT_EQ(refusalLines(tooLongText()), (std::vector<std::string>{"error request too long", "status 2"}));
  EXPECT_EQ(noRequestText(), "no request within 2 s");
}

TEST(LineSplitterTest, CutsLinesAndKeepsAnUnendedLastOne) {
  LineSplitter lines;
  const std::string bytes = "answer a\r\nerr";
  lines.take(bytes.data(), bytes.size());
  EXPECT_EQ(lines.next(), "answer a");
  EXPECT_EQ(lines.next(), std::nullopt);
  const std::string more = "or b\n\nstatus 0";
  lines.take(more.data(), more.size());
  EXPECT_EQ(lines.next(), "error b");
  EXPECT_EQ(lines.next(), "");
  EXPECT_EQ(lines.next(), std::nullopt);
  EXPECT_FALSE(lines.empty());
  EXPECT_EQ(lines.rest(), "status 0");
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(lines.rest(), std::nullopt);
}

}  // namespace
