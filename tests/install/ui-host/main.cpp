// Shows the form made from janela.ui and checks that uic created the
// OrlanWidget it places, under the form's object name, with its control.
#include <QApplication>
#include <QWidget>

#include <cstdio>

#include "ui_janela.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget janela;
  Ui::Janela ui;
  ui.setupUi(&janela);
  janela.show();
  QApplication::processEvents();

  auto* widget = janela.findChild<orlan::OrlanWidget*>(QStringLiteral("orlanWidget"));
  if (widget == nullptr || widget != ui.orlanWidget) {
    std::fprintf(stderr, "the form has no OrlanWidget named orlanWidget\n");
    return 1;
  }
  if (!widget->isVisible() || !widget->control().itens().empty()) {
    std::fprintf(stderr, "the widget is hidden or lists documents before any file\n");
    return 1;
  }
  std::printf("OrlanWidget placed by the form: %dx%d\n", widget->width(), widget->height());
  return 0;
}
