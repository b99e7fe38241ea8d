#pragma once

// The grade of a scanned page in a dialog of its own: the symbol grade as a
// large letter, the parameters and the ten scan lines coloured by grade, the
// bar gain and what it means, and the profile of the scan line picked in the
// table. The report saves as JSON and the profile as PNG.

#include "grading/Grading.h"

#include <QDialog>
#include <QImage>
#include <QString>

class QLabel;
class QSplitter;
class QTableWidget;

namespace raitakone {

class ProfileView;

class GradeDialog : public QDialog {
    Q_OBJECT

public:
    // source names the file or scanner the page came from.
    GradeDialog(grading::GradeResult result, const QString& source, QWidget* parent = nullptr);

    // The scan line whose profile is drawn, counted from 0.
    int selectedLine() const;
    void selectLine(int line);
    // The profile as the dialog draws it now, at the size given.
    QImage plotImage(QSize size) const;

    // Write the report or the plot; false with a message in Finnish.
    bool saveJson(const QString& path, QString* error) const;
    bool savePlot(const QString& path, QString* error) const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Room kept for the window manager's frame and title bar, which are not
    // known before the dialog is shown.
    static constexpr int kFrameAllowance = 16;
    static constexpr int kTitleAllowance = 32;
    // Scan lines the line table shows however short the screen.
    static constexpr int kLinesAlwaysShown = 4;

    void fitToScreen(QSplitter* splitter, QWidget* tables, int above);
    QRect availableArea() const;
    QWidget* createHeader(const QString& source);
    QTableWidget* createParameterTable();
    QTableWidget* createLineTable();
    void askAndSave(bool json);
    QString suggestedPath(bool json) const;

    grading::GradeResult result_;
    const grading::SymbolGrade& symbol_;
    QTableWidget* lines_ = nullptr;
    ProfileView* plot_ = nullptr;
    QString source_;
    QLabel* saved_ = nullptr;
};

} // namespace raitakone
