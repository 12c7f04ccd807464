#pragma once
// The five port buttons: Momentary (on while held) or Latch (each press toggles),
// the mode read afresh from the dialog's toggle at every press and release.

void btnServer_MouseDown(int index);
void btnServer_MouseUp(int index);
