#include "platform/program.h"
#include "shell/main_window.h"

int main(int argc, char** argv) { return platform::runProgram(argc, argv, &LoadMain); }
