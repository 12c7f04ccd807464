#pragma once
// The part of the application state that the settings store and the log
// writer work with: the store's interface variables and the log switch. The
// application state (shell/globals.h) is built on it, so every procedure still
// reads them as g.gKeyName, g.gErrorLog, ...

#include <cstdint>
#include <string>

struct StoreState {
  int16_t gErrorLog = 0;          // the log writer writes only while this is 1
  int32_t gUpdateMode = 0;        // 1: the settings store writes; otherwise it reads
  std::string gKeyName;           // value name for the settings store
  std::string gKeyValue;          // default or new value in, value to use out
  std::string gRegistryReport;    // what the last settings-store call did
};

// The application state's store part (defined with the state itself).
StoreState& storeState();
