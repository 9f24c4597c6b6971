#pragma once

#include "engine/batch/BatchSettings.h"
#include "engine/worker/ThreadObject.h"

#include <QDialog>
#include <QHash>
#include <QStringList>
#include <functional>
#include <vector>

class QLabel;
class QLineEdit;
class RuleHitsTable;
class QModelIndex;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;
class QTextBrowser;

// The files a preview or a search found: a table with a check box per file, the selected
// file's changes below it. Rows arrive while the run still works. Closing writes nothing;
// "应用所选" hands the checked files that the filter shows, each with the content it was
// reviewed with, to applyRequested. No key but the button's own Alt key applies: Return
// opens the file in hand or filters, and the view has no default button.
class ResultsDialog : public QDialog
{
    Q_OBJECT

public:
    // applicable: a preview of an edit, whose checked files can be written.
    ResultsDialog(Operation operation, const BatchSettings &settings, bool applicable,
                  QWidget *parent = nullptr);

    void addRow(const PlanRow &row);
    // The run is over: the apply button may be pressed.
    void runEnded(const QString &statistics);
    // Opens a file in the system's viewer; the window's report viewer by default.
    void setOpener(std::function<void(const QString &nativePath)> opener);

    // The column of each part of a row.
    enum Column
    {
        PathColumn,
        EncodingColumn,
        MatchesColumn,
        StatusColumn,
    };
    // The checked files that the filter shows and that can be written, by relative path, as
    // they were reviewed.
    ReviewedFiles checkedFiles() const;
    // Checks or unchecks every file the filter shows.
    void checkShown(bool on);

signals:
    void applyRequested(ReviewedFiles files);

private:
    void showChanges(const QModelIndex &index);
    void openFile(const QModelIndex &index);
    void updateCounts();
    int shownChecked() const;
    QString highlighted(const QString &line, const QStringList &texts, const char *colour) const;

    const bool applicable;
    bool converts = false;  // a conversion: each row is a file to convert
    QStringList foundTexts; // marked in the old lines
    QStringList newTexts;   // marked in the new lines
    std::vector<PlanRow> rows;
    std::function<void(const QString &)> opener;
    QStandardItemModel *model;
    QSortFilterProxyModel *proxy;
    QTableView *table;
    QLineEdit *filter;
    QTextBrowser *changes;
    QLabel *counts;
    RuleHitsTable *pairCounts = nullptr; // for pairs: how often each pair matched
    QVector<qint64> pairTotals;
    QPushButton *applyButton = nullptr;
    bool ended = false;
    bool bulkChange = false; // counts are brought up to date once, after the last row
    int checked = 0;         // rows checked, kept as they change: a tree may give tens of thousands
    qint64 totalMatches = 0;
};
