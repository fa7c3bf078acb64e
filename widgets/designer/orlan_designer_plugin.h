// The Qt Designer plugin for OrlanWidget: puts the widget in Designer's
// widget box, in its own group, so that a host's form can place it and wire
// its signals (the control's six events) in the signal/slot editor.
//
// Designer owns the collection and asks it for the interfaces; the
// interfaces are children of the collection and live as long as it does.
// Each widget createWidget() makes belongs to the parent it is given (to the
// caller when the parent is null).
#ifndef ORLAN_WIDGETS_DESIGNER_ORLAN_DESIGNER_PLUGIN_H_
#define ORLAN_WIDGETS_DESIGNER_ORLAN_DESIGNER_PLUGIN_H_

#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <QList>
#include <QObject>

namespace orlan {

class OrlanWidgetPlugin : public QObject, public QDesignerCustomWidgetInterface {
  Q_OBJECT
  Q_INTERFACES(QDesignerCustomWidgetInterface)

 public:
  explicit OrlanWidgetPlugin(QObject* parent = nullptr);

  QString name() const override;
  QString group() const override;
  QString toolTip() const override;
  QString whatsThis() const override;
  QString includeFile() const override;
  QIcon icon() const override;
  bool isContainer() const override;
  QString domXml() const override;

  // The widget uses Qt's message boxes and file dialog, as a host's form
  // made with uic does.
  QWidget* createWidget(QWidget* parent) override;

  bool isInitialized() const override;
  void initialize(QDesignerFormEditorInterface* core) override;

 private:
  bool inicializado_ = false;
};

class VmbOrlanDesignerPlugins : public QObject, public QDesignerCustomWidgetCollectionInterface {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface")
  Q_INTERFACES(QDesignerCustomWidgetCollectionInterface)

 public:
  explicit VmbOrlanDesignerPlugins(QObject* parent = nullptr);

  // Owned by this collection.
  QList<QDesignerCustomWidgetInterface*> customWidgets() const override;

 private:
  QList<QDesignerCustomWidgetInterface*> widgets_;
};

}  // namespace orlan

#endif  // ORLAN_WIDGETS_DESIGNER_ORLAN_DESIGNER_PLUGIN_H_
