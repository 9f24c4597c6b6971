#include "app/RuleHitsTable.h"

#include <QHeaderView>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>

RuleHitsTable::RuleHitsTable(QWidget *parent)
    : QTableView(parent), model(new QStandardItemModel(0, 3, this))
{
    model->setHorizontalHeaderLabels({tr("No."), tr("Rule"), tr("Hits")});
    auto *proxy = new QSortFilterProxyModel(this);
    proxy->setSourceModel(model);
    proxy->setSortRole(Qt::UserRole);
    setModel(proxy);
    setSortingEnabled(true);
    sortByColumn(-1, Qt::AscendingOrder); // the rules' order until a header is clicked
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    verticalHeader()->hide();
    horizontalHeader()->setSectionResizeMode(NumberColumn, QHeaderView::ResizeToContents);
    horizontalHeader()->setSectionResizeMode(RuleColumn, QHeaderView::Stretch);
    horizontalHeader()->setSectionResizeMode(HitsColumn, QHeaderView::ResizeToContents);
    setAccessibleName(tr("Hits per rule"));
}

void RuleHitsTable::setRules(const QStringList &names)
{
    model->setRowCount(0);
    for (int i = 0; i < names.size(); ++i) {
        auto *number = new QStandardItem(QString::number(i + 1));
        number->setData(i, Qt::UserRole);
        auto *rule = new QStandardItem(names.at(i));
        rule->setData(names.at(i), Qt::UserRole);
        rule->setToolTip(names.at(i));
        auto *hits = new QStandardItem;
        model->appendRow({number, rule, hits});
    }
    setHits(QVector<qint64>(names.size(), 0));
}

void RuleHitsTable::setHits(const QVector<qint64> &hits)
{
    const QBrush none(QColor(255, 215, 215));
    for (int i = 0; i < model->rowCount() && i < hits.size(); ++i) {
        QStandardItem *item = model->item(i, HitsColumn);
        item->setText(QString::number(hits.at(i)));
        item->setData(hits.at(i), Qt::UserRole);
        for (int column = NumberColumn; column <= HitsColumn; ++column)
            model->item(i, column)->setBackground(hits.at(i) == 0 ? none : QBrush());
    }
}
