// The REGEDIT4 reader and writer: what the registry file holds on disk.
#include "platform/portable/regfile.h"

#include <gtest/gtest.h>

namespace {

using regfile::Key;
using regfile::Model;
using regfile::Value;

const std::string kSettings = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick Works\\Tarnwick";

std::string bytes(std::initializer_list<int> list) {
  std::string out;
  for (const int b : list) out.push_back(static_cast<char>(b));
  return out;
}

// A text as stored with its terminating zero byte.
std::string sz(const std::string& text) { return text + '\0'; }

std::vector<std::string> crlfLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(text.substr(at, end - at));
  EXPECT_EQ(at, text.size()) << "text does not end with CRLF";
  return lines;
}

// Every kind of value the store may meet, in a deliberate order.
Model everyKind() {
  std::string longBinary;
  for (int i = 0; i < 100; ++i) longBinary.push_back(static_cast<char>(i * 7));
  Model model;
  model.keys.push_back(Key{"HKEY_LOCAL_MACHINE\\SOFTWARE", {}});
  model.keys.push_back(Key{kSettings,
                           {
                               Value{"Comm Speed", 1, sz("9600")},
                               Value{"", 1, sz("default")},
                               Value{"Quote \"and\" \\slash\\", 1, sz("C:\\Path \"x\"\\")},
                               Value{"Blank", 1, sz(" ")},
                               Value{"Empty", 1, sz("")},
                               Value{"Unterminated", 1, "abc"},
                               Value{"Nothing stored", 1, ""},
                               Value{"Ansi", 1, sz(bytes({0x80, 0xE9, 0xFF}))},
                               Value{"Lines", 1, std::string("one\r\ntwo\0three\0", 16)},
                               Value{"Number", 4, bytes({0x80, 0x25, 0, 0})},
                               Value{"Short number", 4, bytes({1, 2})},
                               Value{"Path", 2, sz("%SystemRoot%\\x")},
                               Value{"List", 7, std::string("a\0b\0\0", 5)},
                               Value{"Raw", 3, longBinary},
                               Value{"Nothing", 0, ""},
                               Value{"Quad", 11, bytes({1, 0, 0, 0, 0, 0, 0, 0})},
                           }});
  model.keys.push_back(Key{"HKEY_LOCAL_MACHINE\\SOFTWARE\\Other", {Value{"Z", 1, sz("last")}}});
  return model;
}

TEST(RegFileWriter, EveryKindOfValueSurvivesARoundTrip) {
  const Model model = everyKind();
  const std::string text = regfile::serialize(model);
  const auto back = regfile::parse(text);
  ASSERT_TRUE(back.has_value()) << text;
  EXPECT_EQ(*back, model);
  EXPECT_EQ(regfile::serialize(*back), text) << "writing is not stable";
}

TEST(RegFileWriter, WritesTheCanonicalRegedit4Form) {
  Model model;
  model.keys.push_back(Key{kSettings,
                           {
                               Value{"Comm Speed", 1, sz("9600")},
                               Value{"", 1, sz("a\\b\"c")},
                               Value{"Number", 4, bytes({0x80, 0x25, 0, 0})},
                               Value{"Big", 4, bytes({0xFF, 0xFF, 0xFF, 0xFF})},
                               Value{"Raw", 3, bytes({0, 0xAB, 0x10})},
                               Value{"Path", 2, sz("%X%")},
                               Value{"List", 7, std::string("a\0\0", 3)},
                               Value{"Lines", 1, sz("a\nb")},
                               Value{"Unterminated", 1, "ab"},
                               Value{"Empty raw", 3, ""},
                               Value{"Quad", 11, bytes({1, 0, 0, 0, 0, 0, 0, 0})},
                           }});
  EXPECT_EQ(regfile::serialize(model),
            "REGEDIT4\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick Works\\Tarnwick]\r\n"
            "\"Comm Speed\"=\"9600\"\r\n"
            "@=\"a\\\\b\\\"c\"\r\n"
            "\"Number\"=dword:00002580\r\n"
            "\"Big\"=dword:ffffffff\r\n"
            "\"Raw\"=hex:00,ab,10\r\n"
            "\"Path\"=hex(2):25,58,25,00\r\n"
            "\"List\"=hex(7):61,00,00\r\n"
            "\"Lines\"=hex(1):61,0a,62,00\r\n"
            "\"Unterminated\"=hex(1):61,62\r\n"
            "\"Empty raw\"=hex:\r\n"
            "\"Quad\"=hex(b):01,00,00,00,00,00,00,00\r\n"
            "\r\n");
}

TEST(RegFileWriter, LongHexDataWrapsLikeRegedit) {
  Model model;
  model.keys.push_back(Key{kSettings, {Value{"Raw", 3, std::string(100, '\x5a')}}});
  const std::vector<std::string> lines = crlfLines(regfile::serialize(model));
  ASSERT_GE(lines.size(), 5u);
  // Lines 3.. hold the value: every line but the last ends in ",\", the
  // continuations are indented by two blanks, and no line runs past 80.
  for (size_t i = 3; i + 1 < lines.size(); ++i) {
    const std::string& line = lines[i];
    EXPECT_LE(line.size(), 80u) << line;
    const bool last = i + 2 == lines.size();
    if (!last) {
      EXPECT_EQ(line.substr(line.size() - 2), ",\\") << line;
    }
    if (i > 3) {
      EXPECT_EQ(line.substr(0, 2), "  ") << line;
    }
  }
  EXPECT_EQ(lines[3].substr(0, 11), "\"Raw\"=hex:5");
  EXPECT_GT(lines.size(), 6u) << "100 bytes should take more than two lines";
  EXPECT_EQ(lines.back(), "");
}

TEST(RegFileWriter, KeepsInsertionOrderAndTheFirstSpellingOfANameOnReplace) {
  Key key{kSettings, {}};
  regfile::setValue(key, "Zeta", 1, "1");
  regfile::setValue(key, "Alpha", 1, "2");
  regfile::setValue(key, "ZETA", 1, "3");
  ASSERT_EQ(key.values.size(), 2u);
  EXPECT_EQ(key.values[0], (Value{"Zeta", 1, "3"}));
  EXPECT_EQ(key.values[1], (Value{"Alpha", 1, "2"}));
}

TEST(RegFileKeys, AddKeyCreatesEveryLevelBelowTheRootOnce) {
  Model model;
  EXPECT_TRUE(regfile::addKey(model, kSettings));
  ASSERT_EQ(model.keys.size(), 3u);
  EXPECT_EQ(model.keys[0].path, "HKEY_LOCAL_MACHINE\\SOFTWARE");
  EXPECT_EQ(model.keys[1].path, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick Works");
  EXPECT_EQ(model.keys[2].path, kSettings);
  EXPECT_FALSE(regfile::addKey(model, "hkey_local_machine\\software\\TARNWICK WORKS"));
  EXPECT_EQ(model.keys.size(), 3u);
}

TEST(RegFileKeys, AKeyExistsWhenOnlyItsSubKeyHasASection) {
  const auto model = regfile::parse("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A\\B\\C]\r\n");
  ASSERT_TRUE(model);
  EXPECT_TRUE(regfile::keyExists(*model, "HKEY_LOCAL_MACHINE\\a\\b"));
  EXPECT_TRUE(regfile::keyExists(*model, "HKEY_LOCAL_MACHINE\\A\\B\\C"));
  EXPECT_FALSE(regfile::keyExists(*model, "HKEY_LOCAL_MACHINE\\A\\BC"));
  EXPECT_FALSE(regfile::keyExists(*model, "HKEY_LOCAL_MACHINE\\A\\B\\C\\D"));
}

TEST(RegFileNames, MatchCaseInsensitivelyOverWindows1252Letters) {
  EXPECT_TRUE(regfile::sameName("Comm Speed", "COMM speed"));
  EXPECT_TRUE(regfile::sameName(bytes({0xC9, 0x8A, 0x9F}), bytes({0xE9, 0x9A, 0xFF})));  // ÉŠŸ éšÿ
  EXPECT_FALSE(regfile::sameName(bytes({0xD7}), bytes({0xF7})));  // × is not ÷
  EXPECT_FALSE(regfile::sameName("Port 1", "Port 1 "));
}

struct Tolerated {
  const char* name;
  std::string text;
  Model expected;
};

class RegFileReader : public ::testing::TestWithParam<Tolerated> {};

TEST_P(RegFileReader, ReadsWhatRegeditAndHandsWouldWrite) {
  const auto model = regfile::parse(GetParam().text);
  ASSERT_TRUE(model.has_value()) << GetParam().text;
  EXPECT_EQ(*model, GetParam().expected);
}

Model one(std::vector<Value> values) { return Model{{Key{kSettings, std::move(values)}}}; }

INSTANTIATE_TEST_SUITE_P(
    Tolerant, RegFileReader,
    ::testing::Values(
        Tolerated{"LfLineEnds",
                  "REGEDIT4\n\n[" + kSettings + "]\n\"Comm Speed\"=\"9600\"\n",
                  one({{"Comm Speed", 1, sz("9600")}})},
        Tolerated{"NoFinalLineEnd",
                  "REGEDIT4\r\n[" + kSettings + "]\r\n\"A\"=\"1\"",
                  one({{"A", 1, sz("1")}})},
        Tolerated{"CommentsAndBlankLines",
                  "REGEDIT4\r\n; settings\r\n\r\n\r\n[" + kSettings + "]\r\n  ; note\r\n\r\n\"A\"=\"1\"\r\n\r\n",
                  one({{"A", 1, sz("1")}})},
        Tolerated{"HexContinuedOverLfLines",
                  "REGEDIT4\n[" + kSettings + "]\n\"Raw\"=hex:01,02,\\\n    03,\\\n  04\n",
                  one({{"Raw", 3, bytes({1, 2, 3, 4})}})},
        Tolerated{"UpperCaseHexAndShortDword",
                  "REGEDIT4\r\n[" + kSettings + "]\r\n\"Raw\"=HEX:A,Bc\r\n\"N\"=DWORD:2580\r\n",
                  one({{"Raw", 3, bytes({0x0A, 0xBC})}, {"N", 4, bytes({0x80, 0x25, 0, 0})}})},
        Tolerated{"HexTextsKeptAsStored",
                  "REGEDIT4\r\n[" + kSettings + "]\r\n\"P\"=hex(2):25,58,25\r\n\"S\"=hex(1):61,00\r\n",
                  one({{"P", 2, "%X%"}, {"S", 1, sz("a")}})},
        Tolerated{"LastDuplicateValueWinsInTheFirstPlace",
                  "REGEDIT4\r\n[" + kSettings + "]\r\n\"A\"=\"1\"\r\n\"B\"=\"2\"\r\n\"a\"=\"3\"\r\n",
                  one({{"A", 1, sz("3")}, {"B", 1, sz("2")}})},
        Tolerated{"RepeatedSectionMergesCaseInsensitively",
                  "REGEDIT4\r\n[" + kSettings + "]\r\n\"A\"=\"1\"\r\n[HKEY_LOCAL_MACHINE\\Other]\r\n[hkey_local_machine\\software\\tarnwick works\\TARNWICK]\r\n\"A\"=\"2\"\r\n\"B\"=\"3\"\r\n",
                  Model{{Key{kSettings, {{"A", 1, sz("2")}, {"B", 1, sz("3")}}}, Key{"HKEY_LOCAL_MACHINE\\Other", {}}}}},
        Tolerated{"DefaultValueQuotedOrAt",
                  "REGEDIT4\r\n[" + kSettings + "]\r\n\"\"=\"1\"\r\n@=\"2\"\r\n",
                  one({{"", 1, sz("2")}})},
        Tolerated{"TrailingBlanksOnLines",
                  "REGEDIT4  \r\n[" + kSettings + "]\t\r\n\"A\"=\"1\"  \r\n",
                  one({{"A", 1, sz("1")}})},
        Tolerated{"RawWindows1252Bytes",
                  "REGEDIT4\r\n[" + kSettings + "]\r\n\"" + bytes({0xE9}) + "\"=\"" + bytes({0x80, 0x3F}) + "\"\r\n",
                  one({{bytes({0xE9}), 1, sz(bytes({0x80, 0x3F}))}})}),
    [](const auto& row) { return std::string(row.param.name); });

struct Broken {
  const char* name;
  std::string text;
};

class RegFileRejects : public ::testing::TestWithParam<Broken> {};

TEST_P(RegFileRejects, ATextThatIsNotRegedit4IsNotGuessedAt) {
  EXPECT_FALSE(regfile::parse(GetParam().text).has_value()) << GetParam().text;
}

const std::string kHead = "REGEDIT4\r\n\r\n[" + kSettings + "]\r\n";

INSTANTIATE_TEST_SUITE_P(
    Unparsable, RegFileRejects,
    ::testing::Values(
        Broken{"Empty", ""},
        Broken{"NoHeader", "[" + kSettings + "]\r\n\"A\"=\"1\"\r\n"},
        Broken{"UnicodeExportHeader", "Windows Registry Editor Version 5.00\r\n\r\n[" + kSettings + "]\r\n"},
        Broken{"ValueBeforeAnySection", "REGEDIT4\r\n\"A\"=\"1\"\r\n"},
        Broken{"UnterminatedText", kHead + "\"A\"=\"1\r\n"},
        Broken{"UnterminatedName", kHead + "\"A=\"1\"\r\n"},
        Broken{"UnknownEscape", kHead + "\"A\"=\"C:\\Windows\"\r\n"},
        Broken{"JunkAfterText", kHead + "\"A\"=\"1\" x\r\n"},
        Broken{"MissingEquals", kHead + "\"A\" \"1\"\r\n"},
        Broken{"BareWord", kHead + "Comm Speed=9600\r\n"},
        Broken{"DwordNotHex", kHead + "\"A\"=dword:xyz\r\n"},
        Broken{"DwordTooLong", kHead + "\"A\"=dword:000000001\r\n"},
        Broken{"HexByteTooLong", kHead + "\"A\"=hex:123\r\n"},
        Broken{"HexEmptyByte", kHead + "\"A\"=hex:01,,02\r\n"},
        Broken{"HexTypeNotHex", kHead + "\"A\"=hex(z):01\r\n"},
        Broken{"HexContinuedPastTheEnd", kHead + "\"A\"=hex:01,\\\r\n"},
        Broken{"UnknownType", kHead + "\"A\"=qword:1\r\n"},
        Broken{"SectionNotClosed", "REGEDIT4\r\n[" + kSettings + "\r\n"},
        Broken{"SectionWithEmptyLevel", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\\\A]\r\n"},
        Broken{"KeyRemoval", "REGEDIT4\r\n[-" + kSettings + "]\r\n"},
        Broken{"ValueRemoval", kHead + "\"A\"=-\r\n"}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
