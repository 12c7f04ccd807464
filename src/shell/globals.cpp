#include "shell/globals.h"

Globals g;
