#pragma once
// How a program starts on a backend.

namespace platform {

// Makes the application, installs the backend's toolkit as toolkit(), calls
// start (which loads the first window), runs the event loop until
// Toolkit::endProgram and returns the status given there.
int runProgram(int argc, char** argv, void (*start)());

}  // namespace platform
