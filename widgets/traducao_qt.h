// Qt's own texts (the standard buttons of a message box, the file dialog)
// in Brazilian Portuguese, as every other text the user reads.
#ifndef ORLAN_WIDGETS_TRADUCAO_QT_H_
#define ORLAN_WIDGETS_TRADUCAO_QT_H_

namespace orlan {

// Makes pt_BR the default locale and installs Qt's "qtbase_pt_BR"
// translation, from QLibraryInfo::TranslationsPath, in the running
// application, which owns it from then on. Call once the QApplication
// exists. False when the translation is not installed (Debian's
// qt6-translations-l10n): Qt's texts then stay in English.
bool UsarPortuguêsDoBrasil();

}  // namespace orlan

#endif  // ORLAN_WIDGETS_TRADUCAO_QT_H_
