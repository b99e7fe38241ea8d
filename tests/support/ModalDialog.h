#pragma once

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace raitakone::testing {

// Acts on the modal dialog the test is about to open, once it shows. A check
// that fails inside act closes the dialog, so the test fails at once instead
// of waiting on a dialog that nobody will answer.
inline void whenDialogOpens(std::function<void(QDialog*)> act)
{
    QTimer::singleShot(0, [act] {
        QPointer<QDialog> dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            QTest::qFail("no modal dialog is open", __FILE__, __LINE__);
            return;
        }
        act(dialog);
        if (QTest::currentTestFailed() && dialog != nullptr && dialog->isVisible())
            dialog->reject();
    });
}

} // namespace raitakone::testing
