#pragma once
// The whole program inside a test: a private machine (store and log in a
// temporary folder), COM1 linked to a pseudo-terminal, the pictures in a
// program directory of its own, and the real windows on the offscreen platform.

#include "support/machine.h"
#include "support/pty.h"

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/qt/toolkit_linux.h"

class Program {
 public:
  Program();
  ~Program();

  // Resets the state record and runs start-up, as a fresh process would.
  void start();
  // Starts again on the same machine after unloading everything.
  void restart();
  // Unloads both windows.
  void stop();

  TempMachine machine;
  std::unique_ptr<PtyPair> line;
  std::string appDir() const { return machine.root() + "/app"; }

  // Writes registry.reg with the settings key holding these "Name"="value" lines.
  void writeSettings(const std::vector<std::string>& lines);
  // A settings value as registry.reg holds it now ("" when absent).
  std::string stored(const std::string& name) const;
  // Error-report lines of the day's log file, without their time stamps.
  std::vector<std::string> reports() const;
  // Message-log lines without their time stamps.
  std::vector<std::string> messageLog() const;
};

// The Qt widget behind a control or a form (tests drive them with real events).
using platform::widgetOf;
using platform::windowOf;

// A real mouse press and release on a widget with the given button.
void pressOn(QWidget* widget, Qt::MouseButton button = Qt::LeftButton);
void releaseOn(QWidget* widget, Qt::MouseButton button = Qt::LeftButton);
void clickOn(QWidget* widget);
