#include "app/EnterPressesButtons.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>

namespace raitakone {

bool EnterPressesButtons::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    auto* button = qobject_cast<QAbstractButton*>(watched);
    if (!button || !button->isEnabled() || !button->hasFocus() ||
        (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
        (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    button->animateClick();
    return true;
}

void installEnterPressesButtons()
{
    auto* filter = new EnterPressesButtons(qApp);
    qApp->installEventFilter(filter);
}

} // namespace raitakone
