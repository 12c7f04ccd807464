// tarnwick-baseline: the least a Qt Widgets program doing the same job needs,
// to compare the real program against. One fixed 371 x 211 window, five port
// buttons ("P<i>1" on press, "P<i>0" on release), a 13-line list showing what
// arrives, and a QSerialPort open on the device given as the first argument
// (or in TARNWICK_BASELINE_DEVICE).

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QSerialPort>
#include <QWidget>

#include <cstdio>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QString device = argc > 1 ? QString::fromLocal8Bit(argv[1]) : qEnvironmentVariable("TARNWICK_BASELINE_DEVICE");
  if (device.isEmpty()) {
    std::fprintf(stderr, "usage: tarnwick-baseline DEVICE\n");
    return 2;
  }

  QWidget window;
  window.setWindowTitle(QStringLiteral("Baseline"));
  window.setFixedSize(371, 211);

  QSerialPort port;
  port.setPortName(device);
  port.setBaudRate(9600);
  if (!port.open(QIODevice::ReadWrite)) {
    std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(device), qPrintable(port.errorString()));
    return 1;
  }

  // The same places as the real program's port buttons (Ports frame at 8,0).
  for (int i = 0; i < 5; ++i) {
    auto* button = new QPushButton(QStringLiteral("OFF"), &window);
    button->setGeometry(24 + 64 * i, 72, 57, 49);
    const QByteArray on = "P" + QByteArray::number(i) + "1";
    const QByteArray off = "P" + QByteArray::number(i) + "0";
    QObject::connect(button, &QPushButton::pressed, [&port, button, on] {
      port.write(on);
      port.flush();
      button->setText(QStringLiteral("ON"));
    });
    QObject::connect(button, &QPushButton::released, [&port, button, off] {
      port.write(off);
      port.flush();
      button->setText(QStringLiteral("OFF"));
    });
  }

  auto* list = new QListWidget(&window);
  list->setGeometry(16, 152, 339, 55);
  QObject::connect(&port, &QSerialPort::readyRead, [&port, list] {
    if (list->count() == 13) delete list->takeItem(0);
    list->addItem(QString::fromLatin1(port.readAll()));
  });

  window.show();
  return QApplication::exec();
}
