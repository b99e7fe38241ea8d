#pragma once

// Qt's own texts (standard buttons, file dialogs) are English unless their
// translations are loaded; the program's own texts are Finnish already.

class QLocale;

namespace raitakone {

// Loads Qt's Finnish translations when the locale is Finnish. False when
// the locale is another or the translations are not installed
// (qt6-translations-l10n).
bool installQtTranslations(const QLocale& locale);

} // namespace raitakone
