#pragma once
// The registry settings store: every setting is one REG_SZ value under
// HKEY_LOCAL_MACHINE\SOFTWARE\<company>\Tarnwick\.

#include <cstdint>
#include <string>

// Reads name (creating it with value's default when missing or empty) while
// gUpdateMode is not 1; writes value unconditionally while it is 1. All callers
// pass gKeyName and gKeyValue. "" is stored, and left in value, as " ".
void Registry(std::string& name, std::string& value);

// The value as text, whatever its length ("" when the key or value cannot be
// read, or its type is not text or a 32-bit number). The key is opened with
// read rights only. root is the predefined key's handle value.
std::string GetKeyValue(uint32_t root, std::string& subKey, std::string& name);

// Creates the key when needed and writes value as REG_SZ. Returns true iff the
// value was written; a write the registry refuses is reported with its error.
bool UpdateKey(uint32_t root, std::string& subKey, std::string& name, std::string& value);

// "SOFTWARE\<company>\Tarnwick\".
std::string SettingsKeyPath();
