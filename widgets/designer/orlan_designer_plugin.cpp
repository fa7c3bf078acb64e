#include "widgets/designer/orlan_designer_plugin.h"

#include <QIcon>

#include "widgets/orlan_widget.h"

namespace orlan {

namespace {

// Designer and uic know the widget by its full C++ name; the header is the
// one a host includes from the installed development files.
constexpr auto kClasse = "orlan::OrlanWidget";
constexpr auto kCabeçalho = "widgets/orlan_widget.h";

}  // namespace

OrlanWidgetPlugin::OrlanWidgetPlugin(QObject* parent) : QObject(parent) {}

QString OrlanWidgetPlugin::name() const { return QString::fromLatin1(kClasse); }

QString OrlanWidgetPlugin::group() const { return QStringLiteral("VmbOrlan"); }

QString OrlanWidgetPlugin::toolTip() const {
  return QStringLiteral("Diálogo de importação de declarações de um arquivo pré-formatado (.prf)");
}

QString OrlanWidgetPlugin::whatsThis() const {
  return QStringLiteral(
      "O diálogo de importação: escolhe e verifica um arquivo pré-formatado, lista as declarações "
      "encontradas e copia as selecionadas para o banco de dados atual. Seus sinais (Fechar, "
      "IniciouLeitura, NoMeio, FinalizouLeitura, IniciouImportacao, FinalizouImportacao) são os "
      "eventos do controle.");
}

QString OrlanWidgetPlugin::includeFile() const { return QString::fromLatin1(kCabeçalho); }

QIcon OrlanWidgetPlugin::icon() const {
  // Bitmaps of the program's icon: an SVG would need Qt's SVG plugin, which
  // a Designer installation may lack, and then draws nothing.
  QIcon icone;
  for (int lado : {16, 22, 32, 64}) {
    icone.addFile(QStringLiteral(":/vmborlan/orlan-%1.png").arg(lado), QSize(lado, lado));
  }
  return icone;
}

bool OrlanWidgetPlugin::isContainer() const { return false; }

QString OrlanWidgetPlugin::domXml() const {
  return QStringLiteral(
             "<ui language=\"c++\" displayname=\"OrlanWidget\">\n"
             " <widget class=\"%1\" name=\"orlanWidget\"/>\n"
             " <customwidgets>\n"
             "  <customwidget>\n"
             "   <class>%1</class>\n"
             "   <extends>QWidget</extends>\n"
             "   <header>%2</header>\n"
             "  </customwidget>\n"
             " </customwidgets>\n"
             "</ui>\n")
      .arg(QString::fromLatin1(kClasse), QString::fromLatin1(kCabeçalho));
}

QWidget* OrlanWidgetPlugin::createWidget(QWidget* parent) { return new OrlanWidget(parent); }

bool OrlanWidgetPlugin::isInitialized() const { return inicializado_; }

void OrlanWidgetPlugin::initialize(QDesignerFormEditorInterface*) { inicializado_ = true; }

VmbOrlanDesignerPlugins::VmbOrlanDesignerPlugins(QObject* parent) : QObject(parent) {
  widgets_.append(new OrlanWidgetPlugin(this));
}

QList<QDesignerCustomWidgetInterface*> VmbOrlanDesignerPlugins::customWidgets() const { return widgets_; }

}  // namespace orlan
