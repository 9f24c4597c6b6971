#include "app/ResultsDialog.h"

#include "app/RuleHitsTable.h"
#include "engine/files/Paths.h"
#include "engine/operations/FileHook.h"
#include "engine/operations/RuleTable.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

const int rowRole = Qt::UserRole + 1;     // the row's index in rows
const int checkedRole = Qt::UserRole + 2; // the check state last counted

// The texts of a setting, each line on its own: the changes are shown line by line.
QStringList Pieces(const QStringList &texts)
{
    QStringList pieces;
    for (const QString &text : texts) {
        for (const QString &line : text.split(QLatin1Char('\n'))) {
            if (!line.isEmpty())
                pieces << line;
        }
    }
    pieces.removeDuplicates();
    return pieces;
}

} // namespace

ResultsDialog::ResultsDialog(Operation operation, const BatchSettings &settings, bool applicable,
                             QWidget *parent)
    : QDialog(parent), applicable(applicable), model(new QStandardItemModel(0, 4, this)),
      proxy(new QSortFilterProxyModel(this)), table(new QTableView(this)),
      filter(new QLineEdit(this)), changes(new QTextBrowser(this)), counts(new QLabel(this))
{
    switch (operation) {
    case Operation::ReplaceText:
        foundTexts = Pieces({settings.findText});
        newTexts = Pieces({settings.replaceText});
        break;
    case Operation::ReplacePairs: {
        foundTexts = Pieces(settings.findLines);
        newTexts = Pieces(settings.replaceLines);
        QStringList pairNames;
        for (int i = 0; i < settings.findLines.size() && i < settings.replaceLines.size(); ++i)
            pairNames << DescribeRule({settings.findLines.at(i), settings.replaceLines.at(i)});
        pairTotals.fill(0, pairNames.size());
        pairCounts = new RuleHitsTable(this);
        pairCounts->setObjectName(QStringLiteral("tbl_RuleHits"));
        pairCounts->setAccessibleName(tr("Matches per pair"));
        pairCounts->setRules(pairNames);
        break;
    }
    case Operation::InsertText:
        newTexts = Pieces({settings.insertText});
        break;
    case Operation::FindText:
        foundTexts = Pieces(SplitTerms(settings.searchTerms));
        newTexts = foundTexts;
        break;
    case Operation::ConvertEncoding:
    case Operation::ConvertChinese:
        break; // the changed lines are shown without marks
    }
    converts = operation == Operation::ConvertEncoding || operation == Operation::ConvertChinese;
    setWindowTitle(applicable ? tr("Preview") : tr("Find results"));
    setAttribute(Qt::WA_DeleteOnClose);

    model->setHorizontalHeaderLabels({tr("File"), tr("Encoding"), tr("Matches"), tr("Status")});
    proxy->setSourceModel(model);
    proxy->setFilterKeyColumn(PathColumn);
    proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    proxy->setSortLocaleAware(true);
    table->setModel(proxy);
    table->setSortingEnabled(true);
    table->sortByColumn(-1, Qt::AscendingOrder); // the scan's order until a header is clicked
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setTabKeyNavigation(false);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setSectionResizeMode(PathColumn, QHeaderView::Stretch);
    for (const int column : {EncodingColumn, MatchesColumn, StatusColumn})
        table->horizontalHeader()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    table->setAccessibleName(tr("File list"));
    changes->setAccessibleName(tr("Changes in the selected file"));
    changes->setOpenLinks(false);
    filter->setPlaceholderText(tr("Filter by file name"));
    filter->setAccessibleName(tr("Filter by file name"));
    filter->setClearButtonEnabled(true);
    counts->setAccessibleName(tr("File count"));

    auto *splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(table);
    splitter->addWidget(changes);
    if (pairCounts)
        splitter->addWidget(pairCounts);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    splitter->setChildrenCollapsible(false);

    auto *buttons = new QDialogButtonBox(this);
    if (applicable) {
        auto *all = buttons->addButton(tr("Check a&ll"), QDialogButtonBox::ActionRole);
        auto *none = buttons->addButton(tr("Check &none"), QDialogButtonBox::ActionRole);
        connect(all, &QPushButton::clicked, this, [this] { checkShown(true); });
        connect(none, &QPushButton::clicked, this, [this] { checkShown(false); });
        // Not an accept button: the button box would make that the default, which Return presses.
        applyButton = buttons->addButton(tr("&Apply checked"), QDialogButtonBox::ActionRole);
        applyButton->setObjectName(QStringLiteral("pBtn_ApplyChecked"));
        applyButton->setEnabled(false);
        connect(applyButton, &QPushButton::clicked, this, [this] {
            const ReviewedFiles files = checkedFiles();
            if (!files.isEmpty())
                emit applyRequested(files);
        });
    }
    QPushButton *closeButton = buttons->addButton(tr("Close"), QDialogButtonBox::RejectRole);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
    // Return belongs to the row or the filter in hand, never to a button that writes.
    for (QPushButton *button : buttons->findChildren<QPushButton *>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    auto *layout = new QVBoxLayout(this);
    if (applicable) {
        auto *target = new QLabel(
            settings.saveInSource
                ? tr("Writes over the original files in %1")
                      .arg(NativeSeparators(settings.sourceDir))
                : tr("Writes into the save folder %1").arg(NativeSeparators(settings.saveDir)),
            this);
        target->setObjectName(QStringLiteral("lb_WritesTo"));
        target->setTextFormat(Qt::PlainText);
        target->setWordWrap(true);
        layout->addWidget(target);
    }
    layout->addWidget(filter);
    layout->addWidget(splitter, 1);
    layout->addWidget(counts);
    layout->addWidget(buttons);

    connect(filter, &QLineEdit::textChanged, proxy, &QSortFilterProxyModel::setFilterFixedString);
    connect(filter, &QLineEdit::textChanged, this, &ResultsDialog::updateCounts);
    connect(filter, &QLineEdit::returnPressed, this, [this] {
        proxy->setFilterFixedString(filter->text());
        updateCounts();
    });
    connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { showChanges(current); });
    // Enter or a double click opens the file.
    connect(table, &QAbstractItemView::activated, this, &ResultsDialog::openFile);
    connect(model, &QStandardItemModel::itemChanged, this, [this](QStandardItem *item) {
        if (!item->isCheckable())
            return;
        const bool now = item->checkState() == Qt::Checked;
        if (now != item->data(checkedRole).toBool()) {
            item->setData(now, checkedRole);
            checked += now ? 1 : -1;
        }
        if (!bulkChange)
            updateCounts();
    });
    updateCounts();
    resize(760, 460);
}

void ResultsDialog::setOpener(std::function<void(const QString &)> opener)
{
    this->opener = std::move(opener);
}

void ResultsDialog::addRow(const PlanRow &row)
{
    const int index = static_cast<int>(rows.size());
    rows.push_back(row);
    auto *path = new QStandardItem(row.relativePath);
    path->setData(index, rowRole);
    path->setToolTip(row.nativePath);
    if (applicable && row.failure.isEmpty()) {
        path->setCheckable(true);
        path->setCheckState(Qt::Checked);
        path->setData(true, checkedRole);
        ++checked;
    }
    auto *encoding = new QStandardItem(row.encoding);
    auto *matches = new QStandardItem;
    matches->setData(row.matches, Qt::DisplayRole);
    const QString status = !row.failure.isEmpty() ? row.failure
                           : converts             ? tr("Will convert")
                           : applicable           ? tr("Will change")
                                                  : tr("Found");
    auto *state = new QStandardItem(status);
    QList<QStandardItem *> items{path, encoding, matches, state};
    for (QStandardItem *item : items)
        item->setEditable(false);
    model->appendRow(items);
    totalMatches += row.matches;
    for (int i = 0; i < row.eachMatches.size() && i < pairTotals.size(); ++i)
        pairTotals[i] += row.eachMatches.at(i);
    if (!table->currentIndex().isValid())
        table->setCurrentIndex(proxy->index(0, PathColumn));
    updateCounts();
}

void ResultsDialog::runEnded(const QString &statistics)
{
    ended = true;
    counts->setProperty("statistics", statistics);
    updateCounts();
}

ReviewedFiles ResultsDialog::checkedFiles() const
{
    ReviewedFiles files;
    for (int i = 0; i < proxy->rowCount(); ++i) {
        const QStandardItem *item =
            model->itemFromIndex(proxy->mapToSource(proxy->index(i, PathColumn)));
        if (!item->isCheckable() || item->checkState() != Qt::Checked)
            continue;
        const PlanRow &row = rows[static_cast<size_t>(item->data(rowRole).toInt())];
        files.insert(row.relativePath, {row.hash, row.newHash, row.changesHash});
    }
    return files;
}

void ResultsDialog::checkShown(bool on)
{
    bulkChange = true;
    for (int i = 0; i < proxy->rowCount(); ++i) {
        QStandardItem *item = model->itemFromIndex(proxy->mapToSource(proxy->index(i, PathColumn)));
        if (item->isCheckable())
            item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
    bulkChange = false;
    updateCounts();
}

int ResultsDialog::shownChecked() const
{
    if (proxy->rowCount() == model->rowCount())
        return checked;
    int shown = 0;
    for (int i = 0; i < proxy->rowCount(); ++i) {
        if (proxy->index(i, PathColumn).data(Qt::CheckStateRole).toInt() == Qt::Checked)
            ++shown;
    }
    return shown;
}

void ResultsDialog::updateCounts()
{
    QString text = applicable ? tr("%1 files, %2 checked").arg(model->rowCount()).arg(checked)
                              : tr("%1 files").arg(model->rowCount());
    text += tr(", %1 matches").arg(totalMatches);
    const bool filtered = proxy->rowCount() != model->rowCount();
    const int toWrite = applicable ? shownChecked() : 0;
    if (filtered) {
        text += tr(", %1 shown").arg(proxy->rowCount());
        // Hidden files are left as they are: the apply writes what the user sees.
        if (applicable)
            text += tr(", %1 checked and shown will be written").arg(toWrite);
    }
    if (!ended)
        text += tr(", working…");
    if (applyButton)
        applyButton->setEnabled(ended && toWrite > 0);
    // Each pair's count is brought up to date now and then while rows pour in, and at the end.
    if (pairCounts && (ended || model->rowCount() % 64 == 1))
        pairCounts->setHits(pairTotals);
    if (text == counts->text())
        return;
    counts->setText(text);
    // A screen reader hears the counts change.
    QAccessibleEvent event(counts, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

QString ResultsDialog::highlighted(const QString &line, const QStringList &texts,
                                   const char *colour) const
{
    QString html;
    int copied = 0;
    for (int at = 0; at < line.size();) {
        int longest = 0;
        for (const QString &text : texts) {
            if (text.size() > longest && line.midRef(at, text.size()) == text)
                longest = text.size();
        }
        if (longest == 0) {
            ++at;
            continue;
        }
        html += line.mid(copied, at - copied).toHtmlEscaped();
        html += QStringLiteral("<span style='background-color:%1'>%2</span>")
                    .arg(QLatin1String(colour), line.mid(at, longest).toHtmlEscaped());
        at += longest;
        copied = at;
    }
    return html + line.mid(copied).toHtmlEscaped();
}

void ResultsDialog::showChanges(const QModelIndex &index)
{
    if (!index.isValid()) {
        changes->clear();
        return;
    }
    const QModelIndex source = proxy->mapToSource(index.siblingAtColumn(PathColumn));
    const PlanRow &row =
        rows[static_cast<size_t>(model->item(source.row(), PathColumn)->data(rowRole).toInt())];
    QString html = QStringLiteral("<p><b>%1</b></p>").arg(row.nativePath.toHtmlEscaped());
    if (!row.failure.isEmpty())
        html += QStringLiteral("<p>%1</p>").arg(row.failure.toHtmlEscaped());
    const auto lines = [&](const QString &text, const QStringList &texts, const char *colour,
                           const char *sign) {
        QString out;
        for (const QString &line : text.split(QLatin1Char('\n')))
            out += QLatin1String(sign) + highlighted(line, texts, colour) + QStringLiteral("<br>");
        return out;
    };
    for (int i = 0; i < row.lines.size(); ++i) {
        html += tr("<p style='font-family:monospace'>Line %1<br>").arg(row.lines.at(i));
        if (applicable) {
            if (!row.before.at(i).isEmpty() || row.after.at(i).isEmpty())
                html += lines(row.before.at(i), foundTexts, "#ffc8c8", "- ");
            html += lines(row.after.at(i), newTexts, "#c8f0c8", "+ ");
        } else {
            html += lines(row.before.at(i), foundTexts, "#fff0a0", "");
        }
        html += QStringLiteral("</p>");
    }
    changes->setHtml(html);
}

void ResultsDialog::openFile(const QModelIndex &index)
{
    const QModelIndex source = proxy->mapToSource(index.siblingAtColumn(PathColumn));
    const PlanRow &row =
        rows[static_cast<size_t>(model->item(source.row(), PathColumn)->data(rowRole).toInt())];
    if (opener)
        opener(row.nativePath);
}
