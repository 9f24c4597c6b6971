#pragma once

#include <QStringList>
#include <QTableView>
#include <QVector>

class QStandardItemModel;

// Each rule's hits as a table: its number, "find → replacement", the hits. Sorts by any
// column; rules that hit nothing stand out, and sorting by hits brings them together.
class RuleHitsTable : public QTableView
{
    Q_OBJECT

public:
    explicit RuleHitsTable(QWidget *parent = nullptr);

    void setRules(const QStringList &names);
    void setHits(const QVector<qint64> &hits);

    enum Column
    {
        NumberColumn,
        RuleColumn,
        HitsColumn,
    };

private:
    QStandardItemModel *model;
};
