// The whole program killed while it saves, and two copies saving at once: the
// store file always reads, holds each value either as it was or as it became,
// and the next start reads what it holds.
#include "platform/portable/regfile.h"
#include "support/pty.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace {

const std::string kKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\" TARNWICK_COMPANY "\\" TARNWICK_PRODUCT;
const char* const kSpeeds[] = {"1200", "2400", "4800"};  // as twk_helper cycles them

// A machine: a store and a working folder. Each helper links COM1 to a
// pseudo-terminal of its own, unless the machine shares one line.
class Machine {
 public:
  Machine() {
    QDir(dir_.path()).mkpath("data/tarnwick/dosdevices");
    QDir(dir_.path()).mkpath("work");
  }
  // One COM1 device, living as long as the test, for helpers that run at the
  // same time. Were each to link its own, COM1 would point at a freed pty
  // number once one ends; the kernel hands that number to the next opener on
  // the machine at once, and a copy still saving would open another program's
  // device.
  void shareOneLine() {
    line_ = std::make_unique<PtyPair>();
    QFile::link(QString::fromStdString(line_->devicePath()), dir_.path() + "/data/tarnwick/dosdevices/com1");
  }
  QString file() const { return dir_.path() + "/data/tarnwick/registry.reg"; }

  QProcess* helper(const QStringList& args) {
    auto* p = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", dir_.path() + "/data");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    if (line_) env.insert("TWK_KEEP_COM1", "1");
    p->setProcessEnvironment(env);
    p->setWorkingDirectory(dir_.path() + "/work");
    p->setProcessChannelMode(QProcess::SeparateChannels);
    p->start(QStringLiteral(TWK_HELPER), args);
    return p;
  }

  std::string bytes() const {
    std::ifstream in(QFile::encodeName(file()).toStdString(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // The settings key's text values; fails the test when the file does not read.
  std::map<std::string, std::string> settings() const {
    const std::string text = bytes();
    const auto model = regfile::parse(text);
    EXPECT_TRUE(model) << "registry.reg does not read:\n" << text;
    std::map<std::string, std::string> out;
    if (!model) return out;
    const regfile::Key* key = regfile::findKey(*model, kKey);
    EXPECT_TRUE(key) << text;
    if (key) {
      for (const regfile::Value& v : key->values) {
        // Texts are stored with their terminating zero.
        const bool isText = v.type == 1 && !v.data.empty() && v.data.back() == '\0';
        out[v.name] = isText ? v.data.substr(0, v.data.size() - 1) : v.data;
      }
    }
    return out;
  }

  QStringList logFiles() const { return QDir(dir_.path() + "/work").entryList({"TWK*.log"}); }

 private:
  QTemporaryDir dir_;
  std::unique_ptr<PtyPair> line_;
};

// The last round number a helper printed.
int lastRound(const QByteArray& out) {
  int last = 0;
  for (const QByteArray& line : out.split('\n'))
    if (!line.trimmed().isEmpty()) last = line.trimmed().toInt();
  return last;
}

std::string name(int kill, int round, int port) {
  return "Kill" + std::to_string(kill) + " " + std::to_string(round) + " p" + std::to_string(port);
}

// What a fresh start shows, as "Name=value" lines.
std::map<std::string, std::string> shownAtStart(Machine& m) {
  std::unique_ptr<QProcess> p(m.helper({"print"}));
  EXPECT_TRUE(p->waitForFinished(30000));
  std::map<std::string, std::string> out;
  for (const QByteArray& line : p->readAllStandardOutput().split('\n')) {
    const qsizetype eq = line.indexOf('=');
    if (eq > 0) out[line.left(eq).toStdString()] = line.mid(eq + 1).toStdString();
  }
  return out;
}

TEST(KilledWhileSaving, EveryValueIsOldOrNewAndTheNextStartReadsIt) {
  Machine m;
  std::map<std::string, std::string> before;  // the file after the previous kill
  QElapsedTimer clock;
  clock.start();
  int kills = 0, rounds = 0;
  while (kills < 300 && clock.elapsed() < 18000) {
    ++kills;
    std::unique_ptr<QProcess> p(m.helper({"save-loop", QString("Kill%1").arg(kills)}));
    ASSERT_TRUE(p->waitForStarted(10000));
    // The first kill waits for one round so the key exists; after that every
    // other kill waits for the save loop, the rest strike anywhere.
    if (kills % 2 == 1) {
      ASSERT_TRUE(p->waitForReadyRead(30000)) << p->readAllStandardError().toStdString();
    }
    QThread::msleep(QRandomGenerator::global()->bounded(300));
    p->kill();  // SIGKILL
    ASSERT_TRUE(p->waitForFinished(10000));
    const int done = lastRound(p->readAllStandardOutput());
    rounds += done;

    auto now = m.settings();
    ASSERT_FALSE(now.empty()) << "after kill " << kills;
    for (int port = 1; port <= 5; ++port) {
      const std::string key = "Port " + std::to_string(port);
      const std::string old = done == 0 ? before[key] : name(kills, done, port);
      const std::string fresh = name(kills, done + 1, port);
      EXPECT_TRUE(now.at(key) == old || now.at(key) == fresh)
          << "kill " << kills << " after round " << done << ": " << key << "=" << now.at(key);
    }
    const std::string oldSpeed = done == 0 ? before["Comm Speed"] : kSpeeds[done % 3];
    const std::string newSpeed = kSpeeds[(done + 1) % 3];
    EXPECT_TRUE(now.at("Comm Speed") == oldSpeed || now.at("Comm Speed") == newSpeed)
        << "kill " << kills << ": Comm Speed=" << now.at("Comm Speed");
    if (::testing::Test::HasFailure()) break;

    if (kills % 10 == 1) {
      auto shown = shownAtStart(m);
      for (int port = 1; port <= 5; ++port) {
        const std::string key = "Port " + std::to_string(port);
        EXPECT_EQ(shown[key], now.at(key));
      }
      EXPECT_EQ(shown["Comm Speed"], now.at("Comm Speed"));
      // The start did not change the file it read.
      EXPECT_EQ(m.settings(), now);
    }
    before = m.settings();
  }
  std::printf("[ figures ] %d kills, %d save rounds completed between them, %.1f s\n", kills, rounds,
              static_cast<double>(clock.elapsed()) / 1000);
  EXPECT_GE(kills, 10);
  EXPECT_GT(rounds, 0);
}

TEST(TwoCopiesSaving, NeitherLosesItsValueAndTheFileAlwaysReads) {
  Machine m;
  m.shareOneLine();
  const int rounds = 25;
  std::unique_ptr<QProcess> speed(m.helper({"field-loop", "speed", QString::number(rounds)}));
  std::unique_ptr<QProcess> flow(m.helper({"field-loop", "flow", QString::number(rounds)}));
  ASSERT_TRUE(speed->waitForStarted(10000));
  ASSERT_TRUE(flow->waitForStarted(10000));
  int reads = 0;
  QElapsedTimer clock;
  clock.start();
  while ((speed->state() != QProcess::NotRunning || flow->state() != QProcess::NotRunning) &&
         clock.elapsed() < 60000) {
    if (QFile::exists(m.file())) {
      const std::string text = m.bytes();
      ASSERT_TRUE(regfile::parse(text)) << "registry.reg does not read while two copies save:\n" << text;
      ++reads;
    }
    speed->waitForFinished(5);
    flow->waitForFinished(5);
  }
  for (QProcess* p : {speed.get(), flow.get()}) {
    if (p->state() != QProcess::NotRunning) p->waitForFinished(10000);
    ASSERT_EQ(p->state(), QProcess::NotRunning);
    EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
  }
  EXPECT_EQ(lastRound(speed->readAllStandardOutput()), rounds);
  EXPECT_EQ(lastRound(flow->readAllStandardOutput()), rounds);
  auto now = m.settings();
  EXPECT_EQ(now.at("Comm Speed"), "19200");  // each copy's last value, used by no earlier round
  EXPECT_EQ(now.at("Flow Control"), "2");
  EXPECT_EQ(now.at("Port 1"), "Server 1");
  auto shown = shownAtStart(m);
  EXPECT_EQ(shown["Comm Speed"], "19200");
  EXPECT_EQ(shown["Flow Control"], "2");
  std::printf("[ figures ] 2 x %d saves, file read %d times meanwhile\n", rounds, reads);
}

}  // namespace
