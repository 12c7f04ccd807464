// The board simulator as a user runs it: its answers on the line, the states it
// prints, its options and the link it makes.

#include "support/machine.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QString kBoard = QStringLiteral(TARNWICK_BUILD_DIR "/tarnwick-board");

class Board {
 public:
  explicit Board(const QStringList& args) {
    process_.start(kBoard, args);
    if (!process_.waitForStarted(5000)) return;
    device_ = nextLine();
    line_ = ::open(device_.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios raw{};
    if (line_ >= 0 && ::tcgetattr(line_, &raw) == 0) {
      cfmakeraw(&raw);
      ::tcsetattr(line_, TCSANOW, &raw);
    }
  }
  ~Board() {
    if (line_ >= 0) ::close(line_);
    process_.terminate();
    process_.waitForFinished(5000);
  }

  QString device() const { return device_; }
  bool lineOpen() const { return line_ >= 0; }

  void send(const QByteArray& bytes) { ASSERT_EQ(::write(line_, bytes.constData(), bytes.size()), bytes.size()); }

  // What the board answered within the time (returns once `want` bytes came).
  QByteArray answer(int want, int timeoutMs = 1000) {
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (out.size() < want && timer.elapsed() < timeoutMs) {
      pollfd p{line_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      char buf[256];
      const ssize_t n = ::read(line_, buf, sizeof buf);
      if (n > 0) out.append(buf, n);
    }
    return out;
  }

  // The next line the board prints (empty after five seconds without one).
  QString nextLine() {
    QElapsedTimer timer;
    timer.start();
    while (!process_.canReadLine() && timer.elapsed() < 5000) process_.waitForReadyRead(100);
    return QString::fromLocal8Bit(process_.readLine()).trimmed();
  }

  // The next printed line that contains `text` (empty when none comes).
  QString lineWith(const QString& text) {
    for (QString line = nextLine(); !line.isEmpty(); line = nextLine())
      if (line.contains(text)) return line;
    return {};
  }

  // Stops the board as Ctrl-C would; true when it ended on its own.
  bool interrupt() {
    ::kill(static_cast<pid_t>(process_.processId()), SIGINT);
    return process_.waitForFinished(5000) && process_.exitCode() == 0;
  }

 private:
  QProcess process_;
  QString device_;
  int line_ = -1;
};

TEST(Board, AnswersCommandsAndPrintsThePortStates) {
  const struct {
    QByteArray sent;
    QByteArray answer;
    QString printed;
  } rows[] = {
      {"P01", "P01 OK\r\n", "P01 ports 1:ON 2:OFF 3:OFF 4:OFF 5:OFF"},
      {"P41", "P41 OK\r\n", "P41 ports 1:ON 2:OFF 3:OFF 4:OFF 5:ON"},
      {"P00", "P00 OK\r\n", "P00 ports 1:OFF 2:OFF 3:OFF 4:OFF 5:ON"},
      {"P90", "P90 OK\r\n", "P90 init ports 1:OFF 2:OFF 3:OFF 4:OFF 5:OFF"},
      {"XYZP21", "ERR\r\nP21 OK\r\n", "P21 ports 1:OFF 2:OFF 3:ON 4:OFF 5:OFF"},
      {"P51", "ERR\r\n", "unknown \"P51\""},
  };
  Board board({});
  ASSERT_TRUE(board.lineOpen()) << board.device().toStdString();
  for (const auto& row : rows) {
    board.send(row.sent);
    EXPECT_EQ(board.answer(static_cast<int>(row.answer.size())), row.answer) << row.sent.constData();
    EXPECT_FALSE(board.lineWith(row.printed).isEmpty()) << row.printed.toStdString();
  }
}

TEST(Board, CommandSplitAcrossWritesIsOneCommand) {
  Board board({});
  ASSERT_TRUE(board.lineOpen());
  // Apart by more than the board's wait, so each byte is read on its own.
  for (const char* part : {"P", "3", "1"}) {
    board.send(part);
    QThread::msleep(60);
  }
  EXPECT_EQ(board.answer(8), "P31 OK\r\n");
}

TEST(Board, SilentBoardNeverAnswersButStillSwitches) {
  Board board({"--silent"});
  ASSERT_TRUE(board.lineOpen());
  board.send("P11XX");
  EXPECT_FALSE(board.lineWith("P11 ports 1:OFF 2:ON").isEmpty());
  EXPECT_EQ(board.answer(1, 200), QByteArray());
}

TEST(Board, FixedReplyAnswersEveryCommand) {
  Board board({"--reply", "OK\\r\\n"});
  ASSERT_TRUE(board.lineOpen());
  board.send("P01P90");
  EXPECT_EQ(board.answer(8), "OK\r\nOK\r\n");
}

TEST(Board, ReportsTheLineSpeedTheProgramSets) {
  Board board({});
  ASSERT_TRUE(board.lineOpen());
  const int fd = ::open(board.device().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios t{};
  ::tcgetattr(fd, &t);
  cfsetispeed(&t, B19200);
  cfsetospeed(&t, B19200);
  ::tcsetattr(fd, TCSANOW, &t);
  ::close(fd);
  EXPECT_EQ(board.lineWith("speed 19200"), "speed 19200");
}

TEST(Board, LinkIsMadeAndRemovedOnInterrupt) {
  TempMachine machine;
  const QString link = QString::fromStdString(machine.machineFolder() + "/dosdevices/com3");
  Board board({"--link", link});
  ASSERT_TRUE(board.lineOpen());
  EXPECT_EQ(QFileInfo(link).symLinkTarget(), board.device());
  EXPECT_TRUE(board.interrupt());
  EXPECT_FALSE(QFileInfo(link).isSymLink());
}

}  // namespace
