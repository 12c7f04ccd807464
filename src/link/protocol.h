#pragma once
// What travels to the board: three ASCII characters, nothing added.

#include <QString>

// "P" + port index digit + "1" (on) or "0" (off): "P01" switches port 1 on.
inline QString SwitchCommand(int index, bool on) {
  return QStringLiteral("P") + QString::number(index) + (on ? QStringLiteral("1") : QStringLiteral("0"));
}

// Initialises the board.
inline const QString kInitCommand = QStringLiteral("P90");
