#pragma once
// Registry cases, written once as data, that the emulation and the real
// advapi32 (run under Wine) must both pass, byte for byte alike. Each case
// prepares its own key below kRoot and then makes one checked call.
// Plain C++ over platform/winreg.h: no Qt, so the table builds for Windows too.

#include <string>
#include <vector>

#include "platform/winreg.h"

namespace conformance {

using namespace std::string_literals;
using namespace platform;  // the registry's types, constants and functions

// The rights the settings store asks for on every open and create: READ_CONTROL
// with every key right but delete, so not KEY_ALL_ACCESS (0xF003F).
inline constexpr REGSAM kStoreRights = 0x2003F;

// Every case lives below this key of HKEY_LOCAL_MACHINE.
inline const std::string kRoot = "SOFTWARE\\TarnwickConformance\\";

// The buffer is filled with this byte before a query, so a write that should
// not have happened, or a terminating zero that was or was not added, shows.
inline constexpr unsigned char kFill = 0xAB;
// The type is set to this before a query, so "left alone" shows too.
inline constexpr DWORD kTypeUnset = 0xDEADBEEF;

enum class Op {
  Create,  // RegCreateKeyExA(key) then RegCloseKey
  Open,    // RegOpenKeyExA(key) then RegCloseKey
  Query,   // RegOpenKeyExA(key), RegQueryValueExA(valueName), RegCloseKey
};

// One RegSetValueExA of bytes.data(). The byte count passed is count, or
// bytes.size() when count is kWhole; the byte past bytes is always a zero, as
// past any C string.
inline constexpr DWORD kWhole = 0xFFFFFFFF;
struct Write {
  std::string name{};
  DWORD type = REG_NONE;
  std::string bytes{};
  DWORD count = kWhole;
};

struct RegCase {
  std::string name{};  // says what goes wrong when the case fails
  Op op = Op::Open;
  std::string key{};       // path below HKEY_LOCAL_MACHINE of the checked call
  std::string prepareKey{};  // created first (with RegCreateKeyExA) when not empty
  std::vector<Write> writes{};  // then set in prepareKey, in this order
  std::string valueName{};    // Query: the name asked for
  DWORD bufferSize = 1024;    // Query: buffer size in *lpcbData
  bool noBuffer = false;      // Query: lpData is NULL, only the size is asked
  // What the checked call must give.
  LONG result = ERROR_SUCCESS;
  DWORD detail = 0;  // Create: the disposition; Query: the type (kTypeUnset: left alone)
  DWORD size = 0;    // Query: *lpcbData on return
  // Query with a buffer, on success: the first min(size + 1, bufferSize) bytes
  // of the buffer, so one byte past the data shows whether a zero was added.
  // On failure the whole buffer must still be kFill. Either way every byte
  // past those must still be kFill.
  std::string bytes{};
};

inline std::string repeated(char c, std::size_t n) { return std::string(n, c); }

// Bytes 1 to 255 in order: every byte a single-byte text may hold, including
// those that Windows-1252 leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D).
inline std::string everyNonZeroByte() {
  std::string s;
  for (int b = 1; b <= 255; ++b) s.push_back(static_cast<char>(b));
  return s;
}

inline std::vector<RegCase> registryCases() {
  const std::string k = kRoot;
  return {
      // Keys.
      {.name = "create_fails_to_make_missing_levels",
       .op = Op::Create,
       .key = k + "Levels\\One\\Two\\Three",
       .detail = REG_CREATED_NEW_KEY},
      {.name = "create_leaves_intermediate_levels_missing",
       .op = Op::Open,
       .key = k + "Levels2\\One",
       .prepareKey = k + "Levels2\\One\\Two\\Three"},
      // The store's path ends with a backslash.
      {.name = "create_rejects_trailing_backslash",
       .op = Op::Create,
       .key = k + "Trailing\\Tarnwick Works\\Tarnwick\\",
       .detail = REG_CREATED_NEW_KEY},
      {.name = "trailing_backslash_names_another_key",
       .op = Op::Open,
       .key = k + "Trailing2\\Tarnwick",
       .prepareKey = k + "Trailing2\\Tarnwick\\"},
      {.name = "open_rejects_trailing_backslash",
       .op = Op::Open,
       .key = k + "Trailing3\\Tarnwick\\",
       .prepareKey = k + "Trailing3\\Tarnwick"},
      // The store's own sequence: create with the trailing backslash, set,
      // then open again with it and read.
      {.name = "value_set_through_trailing_backslash_path_lost",
       .op = Op::Query,
       .key = k + "Store\\Tarnwick Works\\Tarnwick\\",
       .prepareKey = k + "Store\\Tarnwick Works\\Tarnwick\\",
       .writes = {{"Comm Port", REG_SZ, "1"}},
       .valueName = "Comm Port",
       .detail = REG_SZ,
       .size = 2,
       .bytes = "1\0\xAB"s},
      {.name = "create_of_existing_key_claims_new",
       .op = Op::Create,
       .key = k + "Existing",
       .prepareKey = k + "Existing",
       .detail = REG_OPENED_EXISTING_KEY},
      {.name = "open_of_missing_key_succeeds",
       .op = Op::Open,
       .key = k + "Missing\\Key",
       .result = ERROR_FILE_NOT_FOUND},
      {.name = "open_of_missing_leaf_under_existing_key_succeeds",
       .op = Op::Open,
       .key = k + "Present\\Absent",
       .prepareKey = k + "Present",
       .result = ERROR_FILE_NOT_FOUND},
      {.name = "key_names_compared_with_case",
       .op = Op::Open,
       .key = k + "CASEKEY\\inner",
       .prepareKey = k + "CaseKey\\Inner"},
      {.name = "open_refuses_store_rights",
       .op = Op::Open,
       .key = k + "Rights",
       .prepareKey = k + "Rights"},

      // Text values. The size reported counts the terminating zero when one
      // was stored.
      {.name = "sz_with_zero_loses_or_miscounts_it",
       .op = Op::Query,
       .key = k + "Sz",
       .prepareKey = k + "Sz",
       .writes = {{"Port 1", REG_SZ, "Server 1\0"s}},
       .valueName = "Port 1",
       .detail = REG_SZ,
       .size = 9,
       .bytes = "Server 1\0\xAB"s},
      // The store writes strlen bytes. When the count stops short of a zero
      // that follows, as it does after any C string, advapi32 stores that zero
      // too (Wine's RegSetValueExA: "if user forgot to count terminating null,
      // add it (yes NT does this)"), so the value reads back one byte longer.
      {.name = "strlen_count_sz_stored_without_its_zero",
       .op = Op::Query,
       .key = k + "SzNoZero",
       .prepareKey = k + "SzNoZero",
       .writes = {{"Comm Speed", REG_SZ, "9600"}},
       .valueName = "Comm Speed",
       .detail = REG_SZ,
       .size = 5,
       .bytes = "9600\0\xAB"s},
      // A count short of a non-zero byte stores exactly that many bytes. On a
      // read with room to spare a zero is put after them, though it is not
      // counted (Microsoft documents RegQueryValueExA's strings as not
      // guaranteed to be terminated; Wine adds the zero as NT does).
      {.name = "short_count_sz_read_without_added_zero",
       .op = Op::Query,
       .key = k + "SzShort",
       .prepareKey = k + "SzShort",
       .writes = {{"Comm Speed", REG_SZ, "9600;", 4}},
       .valueName = "Comm Speed",
       .detail = REG_SZ,
       .size = 4,
       .bytes = "9600\0"s},
      // The store writes "" as " ".
      {.name = "single_blank_sz_not_kept",
       .op = Op::Query,
       .key = k + "Blank",
       .prepareKey = k + "Blank",
       .writes = {{"Port 2", REG_SZ, " "}},
       .valueName = "Port 2",
       .detail = REG_SZ,
       .size = 2,
       .bytes = " \0\xAB"s},
      // An empty text, as a hand-made value may be: nothing to copy, so no
      // zero is added either.
      {.name = "empty_sz_writes_into_buffer",
       .op = Op::Query,
       .key = k + "Empty",
       .prepareKey = k + "Empty",
       .writes = {{"Port 3", REG_SZ, ""}},
       .valueName = "Port 3",
       .detail = REG_SZ,
       .size = 0,
       .bytes = "\xAB"s},
      {.name = "sz_bytes_outside_1252_altered",
       .op = Op::Query,
       .key = k + "AllBytes",
       .prepareKey = k + "AllBytes",
       .writes = {{"All", REG_SZ, everyNonZeroByte()}},
       .valueName = "All",
       .detail = REG_SZ,
       .size = 256,
       .bytes = everyNonZeroByte() + "\0\xAB"s},
      {.name = "sz_replaced_value_keeps_old_text",
       .op = Op::Query,
       .key = k + "Replace",
       .prepareKey = k + "Replace",
       .writes = {{"Data Bits", REG_SZ, "8"}, {"Data Bits", REG_SZ, "7"}},
       .valueName = "Data Bits",
       .detail = REG_SZ,
       .size = 2,
       .bytes = "7\0\xAB"s},

      // Texts the file must quote or escape come back as they went in.
      {.name = "sz_with_quotes_and_backslashes_altered",
       .op = Op::Query,
       .key = k + "Escapes",
       .prepareKey = k + "Escapes",
       .writes = {{"Port 1", REG_SZ, "say \"hi\" C:\\dir\\"}},
       .valueName = "Port 1",
       .detail = REG_SZ,
       .size = 17,
       .bytes = "say \"hi\" C:\\dir\\\0\xAB"s},
      {.name = "sz_with_line_breaks_altered",
       .op = Op::Query,
       .key = k + "LineBreaks",
       .prepareKey = k + "LineBreaks",
       .writes = {{"Port 1", REG_SZ, "one\r\ntwo\n"}},
       .valueName = "Port 1",
       .detail = REG_SZ,
       .size = 10,
       .bytes = "one\r\ntwo\n\0\xAB"s},
      {.name = "sz_with_inner_zero_cut",
       .op = Op::Query,
       .key = k + "InnerZero",
       .prepareKey = k + "InnerZero",
       .writes = {{"Port 1", REG_SZ, "ab\0cd\0"s}},
       .valueName = "Port 1",
       .detail = REG_SZ,
       .size = 6,
       .bytes = "ab\0cd\0\xAB"s},

      // Value names.
      {.name = "value_names_compared_with_case",
       .op = Op::Query,
       .key = k + "NameCase",
       .prepareKey = k + "NameCase",
       .writes = {{"Comm Speed", REG_SZ, "9600"}, {"COMM SPEED", REG_SZ, "19200"}},
       .valueName = "comm speed",
       .detail = REG_SZ,
       .size = 6,
       .bytes = "19200\0\xAB"s},
      {.name = "value_name_with_high_bytes_not_found",
       .op = Op::Query,
       .key = k + "NameHigh",
       .prepareKey = k + "NameHigh",
       .writes = {{"Port \xE9\x81", REG_SZ, "x"}},
       .valueName = "Port \xE9\x81",
       .detail = REG_SZ,
       .size = 2,
       .bytes = "x\0\xAB"s},
      {.name = "value_name_with_quote_and_backslash_not_found",
       .op = Op::Query,
       .key = k + "NameEscapes",
       .prepareKey = k + "NameEscapes",
       .writes = {{"a\"b\\c", REG_SZ, "x"}},
       .valueName = "a\"b\\c",
       .detail = REG_SZ,
       .size = 2,
       .bytes = "x\0\xAB"s},
      // Accented letters fold too: the registry compares names in Unicode.
      {.name = "value_names_differing_in_accented_case_kept_apart",
       .op = Op::Query,
       .key = k + "NameCaseHigh",
       .prepareKey = k + "NameCaseHigh",
       .writes = {{"Port \xE9", REG_SZ, "a"}, {"Port \xC9", REG_SZ, "b"}},
       .valueName = "Port \xE9",
       .detail = REG_SZ,
       .size = 2,
       .bytes = "b\0\xAB"s},
      // A missing value leaves the buffer and its size alone. The type comes
      // back as REG_NONE under Wine; Windows leaves it undefined (Wine's
      // RegQueryValueExA: "NT sets *type to a random value"), and the store
      // does not look at it.
      {.name = "missing_value_found",
       .op = Op::Query,
       .key = k + "NoValue",
       .prepareKey = k + "NoValue",
       .writes = {{"Other", REG_SZ, "1"}},
       .valueName = "Stop Bits",
       .result = ERROR_FILE_NOT_FOUND,
       .detail = REG_NONE,
       .size = 1024},
      {.name = "missing_value_in_empty_key_found",
       .op = Op::Query,
       .key = k + "EmptyKey",
       .prepareKey = k + "EmptyKey",
       .valueName = "Stop Bits",
       .result = ERROR_FILE_NOT_FOUND,
       .detail = REG_NONE,
       .size = 1024},
      {.name = "missing_value_size_only_query_reports_a_size",
       .op = Op::Query,
       .key = k + "NoValueSize",
       .prepareKey = k + "NoValueSize",
       .valueName = "Stop Bits",
       .noBuffer = true,
       .result = ERROR_FILE_NOT_FOUND,
       .detail = REG_NONE,
       .size = 0},

      // Other types come back as stored, with their type.
      {.name = "dword_not_four_bytes",
       .op = Op::Query,
       .key = k + "Dword",
       .prepareKey = k + "Dword",
       .writes = {{"Comm Speed", REG_DWORD, "\x80\x25\0\0"s}},
       .valueName = "Comm Speed",
       .detail = REG_DWORD,
       .size = 4,
       .bytes = "\x80\x25\0\0\xAB"s},
      {.name = "expand_sz_expanded_or_retyped",
       .op = Op::Query,
       .key = k + "Expand",
       .prepareKey = k + "Expand",
       .writes = {{"Path", REG_EXPAND_SZ, "%SystemRoot%\\x\0"s}},
       .valueName = "Path",
       .detail = REG_EXPAND_SZ,
       .size = 15,
       .bytes = "%SystemRoot%\\x\0\xAB"s},
      {.name = "binary_retyped_or_altered",
       .op = Op::Query,
       .key = k + "Binary",
       .prepareKey = k + "Binary",
       .writes = {{"Raw", REG_BINARY, "\0\x01\xFF\x80"s}},
       .valueName = "Raw",
       .detail = REG_BINARY,
       .size = 4,
       .bytes = "\0\x01\xFF\x80\xAB"s},
      {.name = "multi_sz_retyped_or_cut_at_first_text",
       .op = Op::Query,
       .key = k + "Multi",
       .prepareKey = k + "Multi",
       .writes = {{"List", REG_MULTI_SZ, "a\0bc\0\0"s}},
       .valueName = "List",
       .detail = REG_MULTI_SZ,
       .size = 6,
       .bytes = "a\0bc\0\0\xAB"s},

      // The store reads through a 1,024-byte buffer. Data that does not fit
      // gives ERROR_MORE_DATA with the size needed. Microsoft's documentation
      // of RegQueryValueExA calls the buffer's contents undefined then; Wine
      // leaves it untouched and so does the emulation. The store relies on
      // neither.
      {.name = "sz_of_1023_by_strlen_refused",
       .op = Op::Query,
       .key = k + "Long1023",
       .prepareKey = k + "Long1023",
       .writes = {{"Port 4", REG_SZ, repeated('x', 1023)}},
       .valueName = "Port 4",
       .detail = REG_SZ,
       .size = 1024,
       .bytes = repeated('x', 1023) + "\0"s},
      // The zero that advapi32 stores makes a text of 1,024 bytes one byte
      // too long for the buffer.
      {.name = "sz_of_1024_by_strlen_accepted_without_its_zero",
       .op = Op::Query,
       .key = k + "Long1024",
       .prepareKey = k + "Long1024",
       .writes = {{"Port 5", REG_SZ, repeated('y', 1024)}},
       .valueName = "Port 5",
       .result = ERROR_MORE_DATA,
       .detail = REG_SZ,
       .size = 1025},
      // Stored without a zero, 1,024 bytes fill the buffer exactly: success,
      // and no zero written past the end.
      {.name = "sz_filling_buffer_exactly_refused_or_overrun",
       .op = Op::Query,
       .key = k + "Long1024x",
       .prepareKey = k + "Long1024x",
       .writes = {{"Port 5", REG_SZ, repeated('y', 1024) + "!", 1024}},
       .valueName = "Port 5",
       .detail = REG_SZ,
       .size = 1024,
       .bytes = repeated('y', 1024)},
      {.name = "sz_of_2000_accepted_or_size_not_reported",
       .op = Op::Query,
       .key = k + "Long2000",
       .prepareKey = k + "Long2000",
       .writes = {{"Port 1", REG_SZ, repeated('z', 2000)}},
       .valueName = "Port 1",
       .result = ERROR_MORE_DATA,
       .detail = REG_SZ,
       .size = 2001},
      {.name = "binary_of_2000_accepted_or_size_not_reported",
       .op = Op::Query,
       .key = k + "LongBinary",
       .prepareKey = k + "LongBinary",
       .writes = {{"Raw", REG_BINARY, repeated('\x01', 2000)}},
       .valueName = "Raw",
       .result = ERROR_MORE_DATA,
       .detail = REG_BINARY,
       .size = 2000},
      {.name = "dword_into_two_byte_buffer_accepted",
       .op = Op::Query,
       .key = k + "DwordSmall",
       .prepareKey = k + "DwordSmall",
       .writes = {{"Comm Speed", REG_DWORD, "\x80\x25\0\0"s}},
       .valueName = "Comm Speed",
       .bufferSize = 2,
       .result = ERROR_MORE_DATA,
       .detail = REG_DWORD,
       .size = 4},

      // lpData NULL with lpcbData: only the size is asked for.
      {.name = "size_only_query_fails_or_miscounts",
       .op = Op::Query,
       .key = k + "SizeOnly",
       .prepareKey = k + "SizeOnly",
       .writes = {{"Comm Speed", REG_SZ, "9600"}},
       .valueName = "Comm Speed",
       .noBuffer = true,
       .detail = REG_SZ,
       .size = 5},
      {.name = "size_only_query_limited_by_buffer_size",
       .op = Op::Query,
       .key = k + "SizeOnlyLong",
       .prepareKey = k + "SizeOnlyLong",
       .writes = {{"Port 1", REG_SZ, repeated('z', 2000)}},
       .valueName = "Port 1",
       .noBuffer = true,
       .detail = REG_SZ,
       .size = 2001},
      {.name = "size_only_query_of_dword_miscounts",
       .op = Op::Query,
       .key = k + "SizeOnlyDword",
       .prepareKey = k + "SizeOnlyDword",
       .writes = {{"Comm Speed", REG_DWORD, "\x80\x25\0\0"s}},
       .valueName = "Comm Speed",
       .noBuffer = true,
       .detail = REG_DWORD,
       .size = 4},
  };
}

}  // namespace conformance
