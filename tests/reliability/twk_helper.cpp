// The whole program in a process of its own, for the crash, concurrency and
// valgrind tests. The machine folder comes from XDG_DATA_HOME; COM1 is linked
// to a pseudo-terminal made here, or with TWK_KEEP_COM1 set, is the device the
// caller linked (and keeps alive); the pictures come from the source tree.
//
//   twk_helper save-loop NAME [ROUNDS]
//       starts, then for n = 1, 2, ... opens Configure, sets port 1 to 5 to
//       "NAME n p<port>" and the speed to speedFor(n), presses Save and
//       prints n; with ROUNDS, stops after that many rounds and exits
//   twk_helper field-loop FIELD ROUNDS
//       as above, but changes only one serial setting: "speed" or "flow"
//       (values cycle, the last round sets a value no other round used)
//   twk_helper print
//       starts, prints what the windows and the state show, then exits
//   twk_helper exit
//       starts, and presses Exit once the event loop runs
//   twk_helper watch FILE
//       starts and runs until Exit; whenever what the main window shows
//       changes, replaces FILE with it: "Port n: <caption> <LED picture file>"
//       for each port, then "log: <line>" for each message-log line
//
// With TWK_KEEP_COM1 set, exit and watch use the COM1 link already there.
#include "config/config_dialog.h"
#include "platform/files.h"
#include "platform/linux/qt/toolkit_linux.h"
#include "shell/main_window.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

const char* const kSpeeds[] = {"1200", "2400", "4800"};

// Makes a pseudo-terminal and links <machine folder>/dosdevices/com1 to it.
void linkCom1() {
  int far = -1, near = -1;
  char name[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&far, &near, name, &raw, nullptr) != 0) {
    std::perror("openpty");
    std::exit(2);
  }
  fcntl(far, F_SETFL, fcntl(far, F_GETFL) | O_NONBLOCK);
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const QString dos = QFile::decodeName(xdg ? xdg : ".") + "/tarnwick/dosdevices";
  QDir().mkpath(dos);
  QFile::remove(dos + "/com1");
  QFile::link(QString::fromLocal8Bit(name), dos + "/com1");
  // Both ends stay open for the life of the process; the far end's bytes are
  // drained so the line never fills.
  auto* drain = new QTimer(QCoreApplication::instance());
  QObject::connect(drain, &QTimer::timeout, [far] {
    char buf[4096];
    while (::read(far, buf, sizeof buf) > 0) {
    }
  });
  drain->start(50);
}

void save(int round, const QString& name) {
  btnConfigure_Click();
  for (int i = 0; i < kPorts; ++i)
    frmConfig().txtServer[static_cast<size_t>(i)]->setText(
        QStringLiteral("%1 %2 p%3").arg(name).arg(round).arg(i + 1).toStdString());
  frmConfig().SpeedComboBox->setText(kSpeeds[round % 3]);
  btnSave_Click();
  std::printf("%d\n", round);
  std::fflush(stdout);
}

void saveField(int round, int rounds, const QString& field) {
  btnConfigure_Click();
  const bool last = round == rounds;
  if (field == QLatin1String("speed"))
    frmConfig().SpeedComboBox->setText(last ? "19200" : kSpeeds[round % 3]);
  else
    frmConfig().FlowControl->setText(last ? "2" : std::to_string(round % 2));
  btnSave_Click();
  std::printf("%d\n", round);
  std::fflush(stdout);
}

void print() {
  for (int i = 0; i < kPorts; ++i)
    std::printf("Port %d=%s\n", i + 1, Main().lblServer[static_cast<size_t>(i)]->caption().c_str());
  std::printf("Comm Speed=%s\n", g.gCommSpeed.c_str());
  std::printf("Flow Control=%s\n", g.gFlowControl.c_str());
  std::fflush(stdout);
}

// What the main window shows: captions, LED pictures and the message log.
std::string shown() {
  std::string text;
  for (int i = 0; i < kPorts; ++i) {
    const auto index = static_cast<size_t>(i);
    const std::string led = Main().imgLED[index]->pictureFile();
    text += "Port " + std::to_string(i + 1) + ": " + Main().btnServer[index]->caption() + " " +
            led.substr(led.find_last_of("\\/") + 1) + "\n";
  }
  for (int i = 0; i < Main().List1->listCount(); ++i) text += "log: " + Main().List1->item(i) + "\n";
  return text;
}

void watch(const QString& file) {
  auto* poll = new QTimer(QCoreApplication::instance());
  QObject::connect(poll, &QTimer::timeout, [file, last = std::string()]() mutable {
    if (!MainLoaded()) return;  // Exit has unloaded it; reading would load it again
    const std::string now = shown();
    if (now == last) return;
    QSaveFile out(file);  // readers never see half a state
    if (!out.open(QIODevice::WriteOnly)) return;
    out.write(now.data(), static_cast<qint64>(now.size()));
    if (out.commit()) last = now;
  });
  poll->start(20);
}

int usage() {
  std::fprintf(stderr, "usage: twk_helper save-loop NAME [ROUNDS] | field-loop speed|flow ROUNDS | print | exit | watch FILE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string mode = argv[1];
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  platform::installQtToolkit();
  platform::setProgramDirectoryForTesting(TARNWICK_SOURCE_DIR "/assets");
  if (!qEnvironmentVariableIsSet("TWK_KEEP_COM1")) linkCom1();
  LoadMain();

  if (mode == "save-loop" && argc >= 3) {
    const QString name = QString::fromLocal8Bit(argv[2]);
    const int rounds = argc >= 4 ? std::atoi(argv[3]) : 0;
    for (int n = 1; rounds == 0 || n <= rounds; ++n) {
      save(n, name);
      QCoreApplication::processEvents();
    }
    btnExit_Click();
    return 0;
  }
  if (mode == "field-loop" && argc >= 4) {
    const QString field = QString::fromLocal8Bit(argv[2]);
    const int rounds = std::atoi(argv[3]);
    for (int n = 1; n <= rounds; ++n) {
      saveField(n, rounds, field);
      QCoreApplication::processEvents();
    }
    btnExit_Click();
    return 0;
  }
  if (mode == "print") {
    print();
    btnExit_Click();
    return 0;
  }
  if (mode == "exit") {
    QTimer::singleShot(200, [] { btnExit_Click(); });
    return QApplication::exec();
  }
  if (mode == "watch" && argc >= 3) {
    watch(QString::fromLocal8Bit(argv[2]));
    return QApplication::exec();
  }
  return usage();
}
