// The floor for a Qt tray program: one tool window and one tray icon, and nothing else.
// korvi's footprint is measured against this, built and run on the same machine. With --text,
// the window also shows one line of text, the least a program that shows any text pays for
// fonts; with --boxes, it holds the two edit boxes of korvi's design instead, showing what
// korvi's show at idle (an address, one line of the log). They tell what of korvi's footprint
// text and the boxes themselves cost.
#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QSystemTrayIcon>
#include <QWidget>
#include <memory>

namespace {

class OneLine final : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter(this).drawText(rect(), QStringLiteral("12:00:00 :  0"));
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowCloseButtonHint);
  window.setWindowTitle(QStringLiteral("floor"));
  window.setFixedSize(104, 89);
  window.move(200, 100);
  std::unique_ptr<QLineEdit> text1;
  std::unique_ptr<QPlainTextEdit> text2;
  std::unique_ptr<OneLine> line;
  if (app.arguments().contains(QStringLiteral("--text"))) {
    line = std::make_unique<OneLine>(&window);
    line->setGeometry(0, 16, 105, 73);
  }
  if (app.arguments().contains(QStringLiteral("--boxes"))) {
    text1 = std::make_unique<QLineEdit>(QStringLiteral("127.0.0.1"), &window);
    text1->setGeometry(0, 0, 105, 18);
    text2 = std::make_unique<QPlainTextEdit>(QStringLiteral("12:00:00 :  0"), &window);
    text2->setGeometry(0, 16, 105, 73);
    text2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  }
  QPixmap picture(16, 16);
  picture.fill(Qt::darkGreen);
  QSystemTrayIcon tray{QIcon(picture)};
  tray.setToolTip(QStringLiteral("floor"));
  tray.show();
  window.show();
  return app.exec();
}
