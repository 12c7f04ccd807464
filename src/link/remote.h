#pragma once
// The window's line for scripts: while the window holds its COM port it serves
// the port's endpoint (platform/endpoint.h), and tarnwick-switch hands it its
// command instead of opening the port. A request does what a press or
// Initialize MCU does, with the same message-log lines, caption and LED; the
// board's answers go back to the script as they arrive, then the exit status
// tarnwick-switch returns. A pulse is timed here, so its off goes out at its
// time whatever becomes of the script.
//
// Replies, one line each: "answer <text>" per answer line of the board,
// "error <text>" for what tarnwick-switch prints on standard error, and last
// "status <n>".

#include "persist/errorreport.h"

#include <string>

// Serves COM<gCommPort>'s endpoint when the port is open (after Form_Load and
// Save); a fault is reported under its own tag and the window goes on without.
void ServeLine();

// Stops serving and ends every request as the port is about to close (Exit,
// Save): a pulse still on gets its off first; each script gets its status.
void StopServing(const Steps& step);

// Text from the board, as the receive path read it: whole answer lines go to
// the oldest request still waiting for one.
void TakeRemoteInput(const std::string& text);
