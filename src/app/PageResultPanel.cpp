#include "app/PageResultPanel.h"

#include "grading/PageReport.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace raitakone {

PageResultPanel::PageResultPanel(const grading::GradeResult& result, QWidget* parent) : QWidget(parent)
{
    setObjectName("pageResult");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    const QString page = grading::pageReport(result).trimmed();
    if (!page.isEmpty()) {
        auto* label = new QLabel(page, this);
        label->setObjectName("pageIdentity");
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        layout->addWidget(label);
    }
    if (!result.ladder) {
        setVisible(!page.isEmpty());
        return;
    }

    auto* recommendation = new QLabel(result.ladder->recommendation, this);
    recommendation->setObjectName("ladderRecommendation");
    recommendation->setTextFormat(Qt::PlainText);
    recommendation->setWordWrap(true);
    QFont large = recommendation->font();
    large.setPointSizeF(large.pointSizeF() * 1.8);
    large.setBold(true);
    recommendation->setFont(large);
    layout->addWidget(recommendation);

    const QStringList headings{QStringLiteral("Kavennus px"), QStringLiteral("Laatu"),
                               QStringLiteral("Poikkeama µm"), QStringLiteral("Poikkeama px"),
                               QStringLiteral("Dekoodautui")};
    auto* rungs = new QTableWidget(int(result.ladder->rungs.size()), int(headings.size()), this);
    rungs->setObjectName("ladderRungs");
    rungs->setHorizontalHeaderLabels(headings);
    rungs->setEditTriggers(QAbstractItemView::NoEditTriggers);
    rungs->verticalHeader()->setVisible(false);
    rungs->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    for (int row = 0; row < rungs->rowCount(); ++row) {
        const ladder::RungGrade& rung = result.ladder->rungs[size_t(row)];
        const std::vector<QString> columns = grading::rungColumns(rung);
        for (int column = 0; column < int(columns.size()); ++column) {
            auto* item = new QTableWidgetItem(columns[size_t(column)]);
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (result.ladder->recommendedPx && rung.found && rung.reduction == *result.ladder->recommendedPx) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            rungs->setItem(row, column, item);
        }
    }
    rungs->setMaximumHeight(rungs->horizontalHeader()->sizeHint().height() +
                            rungs->rowCount() * rungs->verticalHeader()->defaultSectionSize() + 4);
    layout->addWidget(rungs);
}

} // namespace raitakone
