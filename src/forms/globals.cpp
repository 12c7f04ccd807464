#include "shell/globals.h"

Globals g;

StoreState& storeState() { return g; }
