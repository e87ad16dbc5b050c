#pragma once
// Application-wide look shared by the program and its tests: the Japanese
// Windows face the captions name, mapped onto an installed Gothic face.
void setUpFonts();

class QLocale;
class QTranslator;

// Qt's own texts (file and colour dialogs, standard buttons) in the given
// language, from Qt's installed translations. Returns the installed
// translator, owned by the application, or nullptr when Qt has none for it.
QTranslator* loadQtTranslations(const QLocale& locale);
