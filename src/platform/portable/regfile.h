#pragma once
// A registry held as REGEDIT4 text: an ordered list of keys, each with its
// ordered values. Plain C++ (no Qt) so Windows tools and fuzzers build it too.
//
// Text is Windows-1252 bytes throughout; nothing here converts it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace regfile {

struct Value {
  std::string name;  // "" is the key's default value, written "@"
  uint32_t type = 0;
  // The bytes as stored, whatever the type: a text with its terminating zero
  // byte when it was stored with one, REG_DWORD as 4 bytes, low byte first.
  std::string data;

  friend bool operator==(const Value&, const Value&) = default;
};

struct Key {
  std::string path;  // full path from the root, e.g. "HKEY_LOCAL_MACHINE\SOFTWARE"
  std::vector<Value> values;

  friend bool operator==(const Key&, const Key&) = default;
};

struct Model {
  std::vector<Key> keys;

  friend bool operator==(const Model&, const Model&) = default;
};

// The model of a REGEDIT4 text, or nullopt when the text cannot be read as one.
// Tolerates LF or CRLF, blank lines, ';' comments and continued hex lines; key
// and value names match case-insensitively and the last duplicate wins.
std::optional<Model> parse(const std::string& text);

// The one canonical REGEDIT4 text of a model: CRLF line ends, keys and values
// in model order, long hex data wrapped with "\" the way regedit wraps it.
std::string serialize(const Model& model);

// True iff a and b are the same name under the registry's case-insensitive rule.
bool sameName(std::string_view a, std::string_view b);

// The key with this full path, or nullptr.
Key* findKey(Model& model, std::string_view path);
const Key* findKey(const Model& model, std::string_view path);

// True iff the key is a section of its own or lies on the path of one.
bool keyExists(const Model& model, std::string_view path);

// Adds a section for every missing level of path below its root (the first
// component). Returns true iff a section was added.
bool addKey(Model& model, std::string_view path);

// The named value of a key, or nullptr.
const Value* findValue(const Key& key, std::string_view name);

// Creates or replaces a value; a replaced value keeps its place and its name's
// spelling.
void setValue(Key& key, std::string_view name, uint32_t type, std::string data);

}  // namespace regfile
