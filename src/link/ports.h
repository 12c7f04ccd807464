#pragma once
// The five port buttons: Momentary (on while held) or Latch (each press toggles),
// the mode read afresh from the dialog's toggle at every press and release.

#include "persist/errorreport.h"

#include <optional>

void btnServer_MouseDown(int index);
void btnServer_MouseUp(int index);

// What a press does to a port, as steps of the caller's procedure (the caller
// trims the message log first): the log line, the command, then the caption
// and LED. The fault, already reported, when the command could not be sent.
std::optional<platform::Fault> SwitchPort(const Steps& step, int index, bool on);
