#include "platform/console.h"
#include "switch/switch.h"

int main(int argc, char** argv) { return platform::runConsole(argc, argv, &SwitchMain); }
