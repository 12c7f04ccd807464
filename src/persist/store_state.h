#pragma once
// The part of the application state that the settings store and the log
// writer work with: the store's interface variables and the log switch. The
// application state (forms/globals.h) is built on it, so every procedure still
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

// The store part the settings store and the log writer use: the one bound
// with BindStoreState, else one of their own (a program without the
// application state, such as tarnwick-switch).
StoreState& storeState();

// Makes `state` (which lives as long as the process) the one storeState() gives.
void BindStoreState(StoreState& state);
