#include "forms/globals.h"

Globals g;

// The settings store and the log writer work on the store part of this record.
[[maybe_unused]] static const bool gStoreBound = (BindStoreState(g), true);
