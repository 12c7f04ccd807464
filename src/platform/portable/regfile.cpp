#include "platform/portable/regfile.h"

#include <algorithm>

namespace regfile {

namespace {

constexpr uint32_t kSz = 1;
constexpr uint32_t kBinary = 3;
constexpr uint32_t kDword = 4;
// regedit ends a hex line with "\" once it reaches this many characters.
constexpr size_t kHexLineLimit = 76;

// Windows-1252 letters folded to one case, as the registry compares names.
unsigned char fold(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 0x20);
  switch (c) {
    case 0x9A: return 0x8A;  // š
    case 0x9C: return 0x8C;  // œ
    case 0x9E: return 0x8E;  // ž
    case 0xFF: return 0x9F;  // ÿ
    default: return c;
  }
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool startsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && sameName(s.substr(0, prefix.size()), prefix);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to 8 hex digits, the whole of s.
std::optional<uint32_t> parseHexNumber(std::string_view s) {
  if (s.empty() || s.size() > 8) return std::nullopt;
  uint32_t n = 0;
  for (const char c : s) {
    const int d = hexDigit(c);
    if (d < 0) return std::nullopt;
    n = n * 16 + static_cast<uint32_t>(d);
  }
  return n;
}

// A quoted, escaped text at the start of s; s is advanced past it.
std::optional<std::string> parseQuoted(std::string_view& s) {
  if (s.empty() || s.front() != '"') return std::nullopt;
  std::string out;
  for (size_t i = 1; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"') {
      s.remove_prefix(i + 1);
      return out;
    }
    if (c == '\\') {
      // Only the two escapes the writer makes: anything else would have to be
      // guessed at.
      if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) return std::nullopt;
      out.push_back(s[++i]);
      continue;
    }
    out.push_back(c);
  }
  return std::nullopt;
}

// Comma-separated bytes ("4a,0,ff"); a trailing comma is allowed.
std::optional<std::string> parseHexBytes(std::string_view s) {
  std::string out;
  s = trim(s);
  while (!s.empty()) {
    const size_t comma = s.find(',');
    const std::string_view token = trim(s.substr(0, comma));
    if (token.empty() || token.size() > 2) return std::nullopt;
    const auto byte = parseHexNumber(token);
    if (!byte) return std::nullopt;
    out.push_back(static_cast<char>(*byte));
    if (comma == std::string_view::npos) break;
    s = trim(s.substr(comma + 1));
  }
  return out;
}

struct Lines {
  std::vector<std::string_view> lines;
  size_t next = 0;
  bool done() const { return next >= lines.size(); }
  std::string_view take() { return trim(lines[next++]); }
};

Lines splitLines(const std::string& text) {
  Lines out;
  std::string_view rest(text);
  while (!rest.empty()) {
    const size_t nl = rest.find('\n');
    out.lines.push_back(rest.substr(0, nl));
    if (nl == std::string_view::npos) break;
    rest.remove_prefix(nl + 1);
  }
  return out;
}

// The data after "name=": a quoted text, dword:, hex: or hex(N):, the last two
// possibly continued over further lines ending in "\".
std::optional<Value> parseData(std::string_view data, Lines& lines) {
  Value value;
  if (!data.empty() && data.front() == '"') {
    auto text = parseQuoted(data);
    if (!text || !trim(data).empty()) return std::nullopt;
    value.type = kSz;
    value.data = std::move(*text) + '\0';
    return value;
  }
  if (startsWith(data, "dword:")) {
    const auto n = parseHexNumber(trim(data.substr(6)));
    if (!n) return std::nullopt;
    value.type = kDword;
    for (int shift = 0; shift < 32; shift += 8)
      value.data.push_back(static_cast<char>((*n >> shift) & 0xFF));
    return value;
  }
  if (startsWith(data, "hex:")) {
    value.type = kBinary;
    data.remove_prefix(4);
  } else if (startsWith(data, "hex(")) {
    const size_t close = data.find("):");
    if (close == std::string_view::npos) return std::nullopt;
    const auto type = parseHexNumber(data.substr(4, close - 4));
    if (!type) return std::nullopt;
    value.type = *type;
    data.remove_prefix(close + 2);
  } else {
    return std::nullopt;
  }
  std::string joined(trim(data));
  while (!joined.empty() && joined.back() == '\\') {
    joined.pop_back();
    if (lines.done()) return std::nullopt;
    joined += lines.take();
  }
  auto bytes = parseHexBytes(joined);
  if (!bytes) return std::nullopt;
  value.data = std::move(*bytes);
  return value;
}

std::optional<Value> parseValueLine(std::string_view line, Lines& lines) {
  std::string name;
  if (line.front() == '@') {
    line.remove_prefix(1);
  } else {
    auto quoted = parseQuoted(line);
    if (!quoted) return std::nullopt;
    name = std::move(*quoted);
  }
  line = trim(line);
  if (line.empty() || line.front() != '=') return std::nullopt;
  auto value = parseData(trim(line.substr(1)), lines);
  if (value) value->name = std::move(name);
  return value;
}

// A section's path: components separated by "\", none empty, no removal ("-").
bool validPath(std::string_view path) {
  if (path.empty() || path.front() == '-') return false;
  if (path.front() == '\\' || path.back() == '\\') return false;
  return path.find("\\\\") == std::string_view::npos;
}

std::string escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::string hexByte(unsigned char b) {
  static constexpr char kDigits[] = "0123456789abcdef";
  return {kDigits[b >> 4], kDigits[b & 0xF]};
}

// prefix (name, "=", type tag) followed by the bytes, wrapped as regedit does.
std::string hexLine(std::string prefix, std::string_view bytes) {
  std::string out = std::move(prefix);
  size_t column = out.size();
  for (size_t i = 0; i < bytes.size(); ++i) {
    out += hexByte(static_cast<unsigned char>(bytes[i]));
    if (i + 1 == bytes.size()) break;
    out += ',';
    column += 3;
    if (column >= kHexLineLimit) {
      out += "\\\r\n  ";
      column = 2;
    }
  }
  return out;
}

// True iff a quoted text holds the data exactly: one terminating zero byte and
// no other zero byte or line break.
bool quotable(const Value& value) {
  if (value.type != kSz || value.data.empty() || value.data.back() != '\0') return false;
  const std::string_view text(value.data.data(), value.data.size() - 1);
  return text.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

// Text in quotes, built front to back: a literal put before a temporary string
// makes GCC 12 warn, falsely, of overlapping copies (-Wrestrict) when optimising.
std::string quoted(const std::string& text) {
  std::string out(1, '"');
  out += text;
  out += '"';
  return out;
}

std::string valueLine(const Value& value) {
  const std::string name = value.name.empty() ? std::string(1, '@') : quoted(escaped(value.name));
  if (quotable(value))
    return name + "=\"" + escaped(std::string_view(value.data).substr(0, value.data.size() - 1)) + "\"";
  if (value.type == kDword && value.data.size() == 4) {
    std::string digits = "dword:";
    for (int i = 3; i >= 0; --i) digits += hexByte(static_cast<unsigned char>(value.data[static_cast<size_t>(i)]));
    return name + "=" + digits;
  }
  if (value.type == kBinary) return hexLine(name + "=hex:", value.data);
  std::string tag;
  for (uint32_t t = value.type; t != 0 || tag.empty(); t >>= 4) tag.insert(tag.begin(), "0123456789abcdef"[t & 0xF]);
  return hexLine(name + "=hex(" + tag + "):", value.data);
}

template <typename Keys>
auto findIn(Keys& keys, std::string_view path) -> decltype(&keys.front()) {
  for (auto& key : keys)
    if (sameName(key.path, path)) return &key;
  return nullptr;
}

}  // namespace

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return fold(static_cast<unsigned char>(x)) == fold(static_cast<unsigned char>(y));
         });
}

Key* findKey(Model& model, std::string_view path) { return findIn(model.keys, path); }

const Key* findKey(const Model& model, std::string_view path) { return findIn(model.keys, path); }

bool keyExists(const Model& model, std::string_view path) {
  for (const Key& key : model.keys) {
    if (sameName(key.path, path)) return true;
    if (key.path.size() > path.size() && key.path[path.size()] == '\\' &&
        sameName(std::string_view(key.path).substr(0, path.size()), path))
      return true;
  }
  return false;
}

bool addKey(Model& model, std::string_view path) {
  bool added = false;
  // The root (up to the first "\") always exists and gets no section.
  for (size_t at = path.find('\\'); at != std::string_view::npos; at = path.find('\\', at + 1)) {
    const size_t end = path.find('\\', at + 1);
    const std::string_view level = path.substr(0, end);
    if (!findKey(model, level)) {
      model.keys.push_back(Key{std::string(level), {}});
      added = true;
    }
  }
  return added;
}

const Value* findValue(const Key& key, std::string_view name) {
  for (const Value& value : key.values)
    if (sameName(value.name, name)) return &value;
  return nullptr;
}

void setValue(Key& key, std::string_view name, uint32_t type, std::string data) {
  for (Value& value : key.values) {
    if (sameName(value.name, name)) {
      value.type = type;
      value.data = std::move(data);
      return;
    }
  }
  key.values.push_back(Value{std::string(name), type, std::move(data)});
}

std::optional<Model> parse(const std::string& text) {
  Lines lines = splitLines(text);
  if (lines.done() || lines.take() != "REGEDIT4") return std::nullopt;
  Model model;
  Key* current = nullptr;
  while (!lines.done()) {
    const std::string_view line = lines.take();
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']') return std::nullopt;
      const std::string_view path = line.substr(1, line.size() - 2);
      if (!validPath(path)) return std::nullopt;
      current = findKey(model, path);
      if (!current) current = &model.keys.emplace_back(Key{std::string(path), {}});
      continue;
    }
    if (!current) return std::nullopt;
    auto value = parseValueLine(line, lines);
    if (!value) return std::nullopt;
    setValue(*current, value->name, value->type, std::move(value->data));
  }
  return model;
}

std::string serialize(const Model& model) {
  std::string out = "REGEDIT4\r\n\r\n";
  for (const Key& key : model.keys) {
    out += "[" + key.path + "]\r\n";
    for (const Value& value : key.values) out += valueLine(value) + "\r\n";
    out += "\r\n";
  }
  return out;
}

}  // namespace regfile
