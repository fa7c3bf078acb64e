// The Qt Designer plugin, loaded as Designer loads it: its collection offers
// OrlanWidget in the VmbOrlan group, creates real widgets, and describes the
// class and header that uic writes into a host's form code.
#include <QFile>
#include <QImage>
#include <QPluginLoader>
#include <QTest>
#include <QWidget>
#include <QXmlStreamReader>

#include <memory>

#ifdef ORLAN_DESIGNER_PLUGIN
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#endif

// moc reads only ASCII identifiers; these headers use accented ones.
#ifndef Q_MOC_RUN
#include "widgets/orlan_widget.h"
#endif

class TestWidgetDesigner : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void colecaoOfereceOWidget();
  void criaUmOrlanWidget();
  void domXmlNomeiaClasseECabecalho();
  void iconeVemDoRecurso();

#ifdef ORLAN_DESIGNER_PLUGIN
 private:
  QDesignerCustomWidgetInterface* interfaceDoWidget();

  QPluginLoader loader_{QStringLiteral(ORLAN_DESIGNER_PLUGIN)};
#endif
};

#ifndef ORLAN_DESIGNER_PLUGIN

void TestWidgetDesigner::initTestCase() {
  QSKIP("o plugin do Qt Designer não foi compilado (faltam os arquivos de desenvolvimento do QtDesigner)");
}
void TestWidgetDesigner::colecaoOfereceOWidget() {}
void TestWidgetDesigner::criaUmOrlanWidget() {}
void TestWidgetDesigner::domXmlNomeiaClasseECabecalho() {}
void TestWidgetDesigner::iconeVemDoRecurso() {}

#else

QDesignerCustomWidgetInterface* TestWidgetDesigner::interfaceDoWidget() {
  auto* colecao = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(loader_.instance());
  if (colecao == nullptr) return nullptr;
  for (QDesignerCustomWidgetInterface* w : colecao->customWidgets()) {
    if (w->name() == QLatin1String("orlan::OrlanWidget")) return w;
  }
  return nullptr;
}

void TestWidgetDesigner::initTestCase() {
  QVERIFY2(QFile::exists(loader_.fileName()), qPrintable(QStringLiteral(ORLAN_DESIGNER_PLUGIN)));
  QVERIFY2(loader_.load(), qPrintable(loader_.errorString()));
  // Designer finds the collection by this interface id in the metadata.
  QCOMPARE(loader_.metaData().value(QLatin1String("IID")).toString(),
           QStringLiteral("org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface"));
}

void TestWidgetDesigner::colecaoOfereceOWidget() {
  auto* colecao = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(loader_.instance());
  QVERIFY(colecao != nullptr);
  QCOMPARE(colecao->customWidgets().size(), 1);
  QDesignerCustomWidgetInterface* w = interfaceDoWidget();
  QVERIFY(w != nullptr);
  QCOMPARE(w->group(), QStringLiteral("VmbOrlan"));
  QCOMPARE(w->includeFile(), QStringLiteral("widgets/orlan_widget.h"));
  QVERIFY(!w->isContainer());
  QVERIFY(!w->toolTip().isEmpty());
  QVERIFY(!w->whatsThis().isEmpty());
  QVERIFY(!w->isInitialized());
  w->initialize(nullptr);
  QVERIFY(w->isInitialized());
}

void TestWidgetDesigner::criaUmOrlanWidget() {
  QDesignerCustomWidgetInterface* w = interfaceDoWidget();
  QVERIFY(w != nullptr);

  std::unique_ptr<QWidget> solto(w->createWidget(nullptr));
  QVERIFY(solto != nullptr);
  QCOMPARE(solto->metaObject()->className(), "orlan::OrlanWidget");
  auto* orlan = qobject_cast<orlan::OrlanWidget*>(solto.get());
  QVERIFY(orlan != nullptr);
  QVERIFY(orlan->control().itens().empty());
  QVERIFY(orlan->control().txtArqPre().isEmpty());
  // The control's events are what Designer lists in its signal/slot editor.
  for (const char* sinal : {"Fechar()", "IniciouLeitura()", "NoMeio()", "FinalizouLeitura()", "IniciouImportacao()",
                            "FinalizouImportacao()"}) {
    QVERIFY2(orlan->metaObject()->indexOfSignal(sinal) >= 0, sinal);
  }

  // On a form, the widget belongs to the parent Designer gives it.
  QWidget formulario;
  QWidget* filho = w->createWidget(&formulario);
  QVERIFY(qobject_cast<orlan::OrlanWidget*>(filho) != nullptr);
  QCOMPARE(filho->parentWidget(), &formulario);
  formulario.show();
  QVERIFY(QTest::qWaitForWindowExposed(&formulario));
  QVERIFY(filho->isVisible());
}

void TestWidgetDesigner::domXmlNomeiaClasseECabecalho() {
  QDesignerCustomWidgetInterface* w = interfaceDoWidget();
  QVERIFY(w != nullptr);
  QXmlStreamReader xml(w->domXml());
  QString classe_do_widget, classe_declarada, cabecalho, estende;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == QLatin1String("widget")) {
      classe_do_widget = xml.attributes().value(QLatin1String("class")).toString();
    } else if (xml.name() == QLatin1String("class")) {
      classe_declarada = xml.readElementText();
    } else if (xml.name() == QLatin1String("extends")) {
      estende = xml.readElementText();
    } else if (xml.name() == QLatin1String("header")) {
      cabecalho = xml.readElementText();
    }
  }
  QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
  QCOMPARE(classe_do_widget, QStringLiteral("orlan::OrlanWidget"));
  QCOMPARE(classe_declarada, w->name());
  QCOMPARE(estende, QStringLiteral("QWidget"));
  QCOMPARE(cabecalho, w->includeFile());
}

void TestWidgetDesigner::iconeVemDoRecurso() {
  // The plugin carries its icon in its resources.
  QDesignerCustomWidgetInterface* w = interfaceDoWidget();
  QVERIFY(w != nullptr);
  QVERIFY(!w->icon().isNull());
  // Drawn at the sizes of Designer's widget box, with Qt's own image readers
  // alone (no SVG plugin needed), and not blank.
  for (int lado : {16, 22, 32}) {
    const QImage imagem = w->icon().pixmap(lado, lado).toImage();
    QVERIFY2(!imagem.isNull(), qPrintable(QString::number(lado)));
    QCOMPARE(imagem.width(), lado);
    QVERIFY(imagem.pixelColor(lado / 2, lado / 2).alpha() > 0);
  }
}

#endif

QTEST_MAIN(TestWidgetDesigner)
#include "test_widget_designer.moc"
