// What both board simulators do around their board: the pseudo-terminal the
// program opens as its serial device, the --link to it, the end on SIGINT or
// SIGTERM, the line speed as a number and one line of output at a time.
#pragma once

#include <string>
#include <termios.h>

namespace boardline {

struct Line {
  int master = -1;  // the board's end
  int device = -1;  // held open: keeps the line up while the program closes
                    // and reopens its port, and shows the settings it chose
  std::string path;
  std::string link;  // the symbolic link to `path`, removed by closeLine
};

// Prints the usage to stdout for a lone --help (then 0), to stderr otherwise
// (then 2): the exit status for a command line that did not parse.
int usage(int argc, char** argv, const char* text);

// Opens a raw pseudo-terminal. False, after a message on stderr, on failure.
bool openLine(const char* program, Line& line, bool nonBlocking);
// Makes `link` (when not empty) a symbolic link to the line, its folders as
// needed. False, after a message on stderr, on failure.
bool linkLine(const char* program, Line& line, const std::string& link);
// Removes the link and closes both ends.
void closeLine(Line& line);

// After this, stopRequested() turns true on SIGINT or SIGTERM.
void stopOnSignals();
bool stopRequested();

// The speed as a number of baud (0 when not a standard speed).
long baud(speed_t code);

// One line on stdout, flushed at once: a reader follows it as it comes.
void say(const std::string& line);

}  // namespace boardline
