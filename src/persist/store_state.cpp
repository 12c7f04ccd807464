#include "persist/store_state.h"

namespace {
StoreState* gBound = nullptr;  // constant-initialised: set before any dynamic initialiser runs
}

StoreState& storeState() {
  static StoreState own;
  return gBound ? *gBound : own;
}

void BindStoreState(StoreState& state) { gBound = &state; }
