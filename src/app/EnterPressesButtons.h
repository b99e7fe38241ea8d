#pragma once

// Enter presses the focused button, as Space does: Finnish desktop users
// expect it, and Qt's buttons outside dialogs take Space only.

#include <QObject>

namespace raitakone {

class EnterPressesButtons : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Installs one filter on the application for all its windows.
void installEnterPressesButtons();

} // namespace raitakone
