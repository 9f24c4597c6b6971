#include "app/RulesControl.h"

#include "app/RuleHitsTable.h"

#include "engine/batch/BatchSettings.h"
#include "engine/files/FileIo.h"
#include "engine/files/Paths.h"
#include "engine/files/SettingsFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileDialog>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// The boxes, the editor and a table file write a rule's texts alike: "\n", "\t" and "\\"
// stand for a line feed, a tab and a backslash in all three (a line feed could not stand in
// a box line). This is the one place where a box line and a rule's text turn into each other;
// a table is read from and written to disk by RuleTable. The two-file form holds plain text.
QString BoxText(const QString &text)
{
    return EscapeRuleText(text);
}

// The text of a box line; false at a backslash that starts no escape.
bool TextOfBoxLine(const QString &line, QString &text)
{
    return UnescapeRuleText(line, text);
}

QStringList TrimmedBoxLines(const QString &plainText)
{
    QStringList lines = SplitLines(plainText);
    while (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString TableFilter()
{
    return RulesControl::tr("Rule tables (*.txt);;All files (*)");
}

} // namespace

RulesControl::RulesControl(QPlainTextEdit *findBox, QPlainTextEdit *replaceBox,
                           const QString &settingsFile, QWidget *parent)
    : QObject(parent), findBox(findBox), replaceBox(replaceBox), parentWidget(parent),
      tablesFolder(RuleTablesFolder(settingsFile)), list(new QComboBox(parent)),
      button(new QPushButton(tr("Rules..."), parent))
{
    list->setObjectName(QStringLiteral("cBox_RuleTable"));
    list->setAccessibleName(tr("Saved rule tables"));
    list->setToolTip(tr("Pick a saved rule table to fill the two boxes"));
    list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    list->setMinimumContentsLength(6);
    button->setObjectName(QStringLiteral("pBtn_RuleTables"));
    button->setAccessibleName(tr("Rule table actions"));
    auto *menu = new QMenu(button);
    const auto add = [&](const QString &text, const QString &name, void (RulesControl::*slot)()) {
        QAction *action = menu->addAction(text);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, slot);
    };
    add(tr("&Save boxes as table..."), QStringLiteral("act_SaveRuleTable"),
        &RulesControl::saveAsTable);
    add(tr("&Import table..."), QStringLiteral("act_ImportRuleTable"), &RulesControl::importTable);
    add(tr("Import &two files (find / replace)..."), QStringLiteral("act_ImportPairFiles"),
        &RulesControl::importPairFiles);
    add(tr("&Export table..."), QStringLiteral("act_ExportRuleTable"), &RulesControl::exportTable);
    menu->addSeparator();
    add(tr("&Edit rules..."), QStringLiteral("act_EditRules"), &RulesControl::editRules);
    add(tr("Last run's &hits per rule..."), QStringLiteral("act_RuleHits"),
        &RulesControl::openHits);
    hitsAction = menu->actions().constLast();
    hitsAction->setEnabled(false);
    button->setMenu(menu);
    connect(list, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        if (index > 0)
            pickTable(list->itemText(index));
    });
    // Tables copied into the folder while the window is open show up when the list is used.
    list->installEventFilter(this);
    refreshList();
}

bool RulesControl::eventFilter(QObject *watched, QEvent *event)
{
    // Not when the focus comes back from the list's own popup: a pick is under way then.
    if (watched == list && ((event->type() == QEvent::FocusIn &&
                             static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason) ||
                            event->type() == QEvent::MouseButtonPress))
        refreshList();
    return QObject::eventFilter(watched, event);
}

void RulesControl::refreshList()
{
    const QStringList names = RuleTableNames(tablesFolder);
    QStringList listed;
    for (int i = 1; i < list->count(); ++i)
        listed << list->itemText(i);
    // Rebuilt only when the folder changed, so that an open list keeps its entries.
    if (list->count() > 0 && listed == names)
        return;
    const QString picked = list->currentIndex() > 0 ? list->currentText() : QString();
    list->clear();
    list->addItem(tr("(rule table)"));
    list->addItems(names);
    const int index = picked.isEmpty() ? -1 : list->findText(picked);
    list->setCurrentIndex(index > 0 ? index : 0);
}

bool RulesControl::boxesShowTable() const
{
    return !table.empty() && findBox->toPlainText() == shownFinds &&
           replaceBox->toPlainText() == shownReplacements;
}

std::vector<ReplacementRule> RulesControl::runRules(QStringList &finds, QStringList &replacements,
                                                    BoxProblems *problems) const
{
    if (boxesShowTable()) {
        EnabledPairs(table, finds, replacements);
        std::vector<ReplacementRule> rules;
        for (const ReplacementRule &rule : table) {
            if (rule.enabled)
                rules.push_back(rule);
        }
        return rules;
    }
    const QStringList findLines = TrimmedBoxLines(findBox->toPlainText());
    const QStringList replaceLines = TrimmedBoxLines(replaceBox->toPlainText());
    const QStringList filled =
        shownFinds.split(QLatin1Char('\n')) + shownReplacements.split(QLatin1Char('\n'));
    // Each box line as its text; a line in error stays as typed, for the count check.
    const auto texts = [&](const QStringList &lines, const QString &box) {
        QStringList out;
        for (int i = 0; i < lines.size(); ++i) {
            QString text;
            if (!TextOfBoxLine(lines.at(i), text)) {
                if (problems)
                    problems->errors << tr("%1, line %2: a backslash starts no escape (write "
                                           "\\t, \\n or \\\\): %3")
                                            .arg(box)
                                            .arg(i + 1)
                                            .arg(lines.at(i));
                text = lines.at(i);
            } else if (problems && text != lines.at(i) && !filled.contains(lines.at(i)) &&
                       (text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\t')))) {
                problems->escapes << tr("%1, line %2: %3").arg(box).arg(i + 1).arg(lines.at(i));
            }
            out << text;
        }
        return out;
    };
    finds = texts(findLines, tr("Find box"));
    replacements = texts(replaceLines, tr("Replace box"));
    std::vector<ReplacementRule> rules;
    for (int i = 0; i < std::min(finds.size(), replacements.size()); ++i)
        rules.push_back({finds.at(i), replacements.at(i), true, i + 1});
    return rules;
}

std::vector<ReplacementRule> RulesControl::currentRules() const
{
    if (boxesShowTable())
        return table;
    QStringList finds;
    QStringList replacements;
    std::vector<ReplacementRule> rules;
    for (ReplacementRule &rule : runRules(finds, replacements)) {
        if (!rule.find.isEmpty())
            rules.push_back(std::move(rule));
    }
    // The boxes were edited: the rules switched off stay, behind the others.
    for (const ReplacementRule &rule : table) {
        if (!rule.enabled)
            rules.push_back(rule);
    }
    return rules;
}

bool RulesControl::boxesReadable()
{
    QStringList finds;
    QStringList replacements;
    BoxProblems problems;
    runRules(finds, replacements, &problems);
    if (problems.errors.isEmpty())
        return true;
    // Saved as typed, a stray backslash would change its meaning in the table.
    showProblem(tr("Rule table"), problems.errors.join(QLatin1Char('\n')));
    return false;
}

void RulesControl::showRules(std::vector<ReplacementRule> rules)
{
    table = std::move(rules);
    QStringList finds;
    QStringList replacements;
    for (const ReplacementRule &rule : table) {
        if (rule.enabled) {
            finds << BoxText(rule.find);
            replacements << BoxText(rule.replacement);
        }
    }
    findBox->setPlainText(finds.join(QLatin1Char('\n')));
    replaceBox->setPlainText(replacements.join(QLatin1Char('\n')));
    shownFinds = findBox->toPlainText();
    shownReplacements = replaceBox->toPlainText();
}

void RulesControl::showProblem(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parentWidget);
    box.exec();
}

bool RulesControl::pickTable(const QString &name)
{
    RuleTable read;
    QString error;
    const QString path = JoinPath(tablesFolder, name);
    if (!ReadRuleTable(path, read, error)) {
        showProblem(tr("Rule table"), error);
        return false;
    }
    if (!read.errors.empty()) {
        QStringList lines;
        for (const RuleTableError &each : read.errors)
            lines << each.message;
        showProblem(tr("Rule table"),
                    tr("%1 has lines in error:\n%2").arg(name, lines.join(QLatin1Char('\n'))));
        return false;
    }
    showRules(std::move(read.rules));
    const int index = list->findText(name);
    if (index > 0)
        list->setCurrentIndex(index);
    return true;
}

void RulesControl::saveAsTable()
{
    if (!boxesReadable())
        return;
    const std::vector<ReplacementRule> rules = currentRules();
    if (rules.empty()) {
        showProblem(tr("Rule table"), tr("The boxes hold no rule to save."));
        return;
    }
    bool given = false;
    QString name = QInputDialog::getText(
                       parentWidget, tr("Save rule table"), tr("Table name:"), QLineEdit::Normal,
                       list->currentIndex() > 0 ? list->currentText() : QString(), &given)
                       .trimmed();
    if (!given || name.isEmpty())
        return;
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
        name.startsWith(QLatin1Char('.'))) {
        showProblem(tr("Rule table"), tr("A table name cannot hold / or \\ or begin with a dot."));
        return;
    }
    if (!name.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive))
        name += QLatin1String(".txt");
    const QString path = JoinPath(tablesFolder, name);
    if (FileExists(path) && QMessageBox::question(parentWidget, tr("Save rule table"),
                                                  tr("%1 exists. Replace it?").arg(name),
                                                  QMessageBox::Yes | QMessageBox::No,
                                                  QMessageBox::No) != QMessageBox::Yes)
        return;
    QString error;
    if (!MakeFolderPath(tablesFolder, &error) || !WriteRuleTable(path, rules, &error)) {
        showProblem(tr("Rule table"), tr("Cannot write %1: %2").arg(NativeSeparators(path), error));
        return;
    }
    showRules(rules);
    refreshList();
    list->setCurrentIndex(std::max(0, list->findText(name)));
}

void RulesControl::importTable()
{
    const QString path = QFileDialog::getOpenFileName(parentWidget, tr("Import rule table"),
                                                      QString(), TableFilter());
    if (path.isEmpty())
        return;
    RuleTable read;
    QString error;
    if (!ReadRuleTable(path, read, error)) {
        showProblem(tr("Rule table"), error);
        return;
    }
    if (!read.errors.empty()) {
        QStringList lines;
        for (const RuleTableError &each : read.errors)
            lines << each.message;
        showProblem(tr("Rule table"),
                    tr("%1 has lines in error:\n%2")
                        .arg(NativeSeparators(path), lines.join(QLatin1Char('\n'))));
        return;
    }
    list->setCurrentIndex(0);
    showRules(std::move(read.rules));
}

void RulesControl::importPairFiles()
{
    const QString findPath = QFileDialog::getOpenFileName(
        parentWidget, tr("Import: the texts to find, one per line"), QString(), TableFilter());
    if (findPath.isEmpty())
        return;
    const QString replacePath = QFileDialog::getOpenFileName(
        parentWidget, tr("Import: the replacements, one per line"), QString(), TableFilter());
    if (replacePath.isEmpty())
        return;
    std::vector<ReplacementRule> rules;
    QString error;
    if (!ReadPairFiles(findPath, replacePath, rules, error)) {
        showProblem(tr("Rule table"), error);
        return;
    }
    list->setCurrentIndex(0);
    showRules(std::move(rules));
}

void RulesControl::exportTable()
{
    if (!boxesReadable())
        return;
    const std::vector<ReplacementRule> rules = currentRules();
    if (rules.empty()) {
        showProblem(tr("Rule table"), tr("The boxes hold no rule to save."));
        return;
    }
    const QString path = QFileDialog::getSaveFileName(parentWidget, tr("Export rule table"),
                                                      QString(), TableFilter());
    if (path.isEmpty())
        return;
    QString error;
    if (!WriteRuleTable(path, rules, &error))
        showProblem(tr("Rule table"), tr("Cannot write %1: %2").arg(NativeSeparators(path), error));
}

void RulesControl::showHits(const QStringList &rules, const QVector<qint64> &hits)
{
    hitRules = rules;
    ruleHits = hits;
    hitsAction->setEnabled(!rules.isEmpty());
    if (hitsView)
        hitsView->close();
    // Many rules do not fit the status line; the table sorts them by hits.
    if (rules.size() > 8)
        openHits();
}

void RulesControl::openHits()
{
    if (hitsView)
        hitsView->close();
    auto *dialog = new QDialog(parentWidget);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("Hits per rule of the last run"));
    auto *layout = new QVBoxLayout(dialog);
    auto *table = new RuleHitsTable(dialog);
    table->setObjectName(QStringLiteral("tbl_LastRuleHits"));
    table->setRules(hitRules);
    table->setHits(ruleHits);
    layout->addWidget(table);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    layout->addWidget(buttons);
    dialog->resize(560, 360);
    hitsView = dialog;
    dialog->show();
}

void RulesControl::editRules()
{
    if (!boxesReadable())
        return;
    const QString picked = list->currentIndex() > 0 ? list->currentText() : QString();
    bool accepted = false;
    std::vector<ReplacementRule> edited = EditRules(parentWidget, currentRules(), accepted, picked);
    if (!accepted)
        return;
    // The editor's OK keeps the picked table as edited, its rules switched off included.
    QString error;
    if (!picked.isEmpty() && !WriteRuleTable(JoinPath(tablesFolder, picked), edited, &error))
        showProblem(
            tr("Rule table"),
            tr("Cannot write %1: %2").arg(NativeSeparators(JoinPath(tablesFolder, picked)), error));
    showRules(std::move(edited));
}

namespace {

enum EditorColumn
{
    OnColumn,
    FindColumn,
    ReplaceColumn,
};

// A rule switched off stays in its place, greyed.
void ShowRuleState(QTableWidget *view, int row)
{
    // Called again for the colour's own change, and while a row is still being filled.
    const QSignalBlocker quiet(view);
    for (int column = OnColumn; column <= ReplaceColumn; ++column) {
        if (!view->item(row, column))
            return;
    }
    const bool on = view->item(row, OnColumn)->checkState() == Qt::Checked;
    const QBrush text =
        view->palette().brush(on ? QPalette::Active : QPalette::Disabled, QPalette::Text);
    for (int column = OnColumn; column <= ReplaceColumn; ++column)
        view->item(row, column)->setForeground(text);
}

void SetRuleRow(QTableWidget *view, int row, bool enabled, const QString &find,
                const QString &replacement)
{
    auto *on = new QTableWidgetItem;
    on->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    on->setCheckState(enabled ? Qt::Checked : Qt::Unchecked);
    on->setData(Qt::AccessibleTextRole, RulesControl::tr("Rule %1 on").arg(row + 1));
    view->setItem(row, OnColumn, on);
    view->setItem(row, FindColumn, new QTableWidgetItem(find));
    view->setItem(row, ReplaceColumn, new QTableWidgetItem(replacement));
    ShowRuleState(view, row);
}

// Swaps a row with the one `by` rows away, keeping the row in hand current.
void MoveRuleRow(QTableWidget *view, int by)
{
    const int row = view->currentRow();
    const int to = row + by;
    if (row < 0 || to < 0 || to >= view->rowCount())
        return;
    for (int column = OnColumn; column <= ReplaceColumn; ++column) {
        QTableWidgetItem *moving = view->takeItem(row, column);
        view->setItem(row, column, view->takeItem(to, column));
        view->setItem(to, column, moving);
    }
    view->setCurrentCell(to, view->currentColumn());
}

} // namespace

std::vector<ReplacementRule> EditRules(QWidget *parent, const std::vector<ReplacementRule> &rules,
                                       bool &accepted, const QString &tableName)
{
    accepted = false;
    QDialog dialog(parent);
    dialog.setWindowTitle(tableName.isEmpty()
                              ? RulesControl::tr("Edit rules")
                              : RulesControl::tr("Edit rule table %1").arg(tableName));
    auto *layout = new QVBoxLayout(&dialog);
    auto *hint = new QLabel(RulesControl::tr("Rules apply in order, each on the text the ones "
                                             "before it left. Write a tab as \\t, a line feed "
                                             "as \\n, a backslash as \\\\."),
                            &dialog);
    hint->setWordWrap(true);
    layout->addWidget(hint);
    auto *view = new QTableWidget(int(rules.size()), 3, &dialog);
    view->setObjectName(QStringLiteral("tbl_Rules"));
    view->setAccessibleName(RulesControl::tr("Rules"));
    view->setHorizontalHeaderLabels(
        {RulesControl::tr("On"), RulesControl::tr("Find"), RulesControl::tr("Replace with")});
    view->horizontalHeader()->setSectionResizeMode(OnColumn, QHeaderView::ResizeToContents);
    view->horizontalHeader()->setSectionResizeMode(FindColumn, QHeaderView::Stretch);
    view->horizontalHeader()->setSectionResizeMode(ReplaceColumn, QHeaderView::Stretch);
    view->setTabKeyNavigation(false);
    for (int row = 0; row < int(rules.size()); ++row) {
        const ReplacementRule &rule = rules[size_t(row)];
        SetRuleRow(view, row, rule.enabled, EscapeRuleText(rule.find),
                   EscapeRuleText(rule.replacement));
    }
    QObject::connect(view, &QTableWidget::itemChanged, view, [view](QTableWidgetItem *item) {
        if (item->column() == OnColumn)
            ShowRuleState(view, item->row());
    });
    layout->addWidget(view);

    auto *edits = new QHBoxLayout;
    const auto editButton = [&](const QString &text, const QString &name) {
        auto *button = new QPushButton(text, &dialog);
        button->setObjectName(name);
        button->setAutoDefault(false);
        edits->addWidget(button);
        return button;
    };
    QObject::connect(editButton(RulesControl::tr("A&dd"), QStringLiteral("pBtn_AddRule")),
                     &QPushButton::clicked, view, [view] {
                         const int row = view->currentRow() + 1;
                         view->insertRow(row);
                         SetRuleRow(view, row, true, QString(), QString());
                         view->setCurrentCell(row, FindColumn);
                         view->editItem(view->item(row, FindColumn));
                     });
    QObject::connect(editButton(RulesControl::tr("De&lete"), QStringLiteral("pBtn_DeleteRule")),
                     &QPushButton::clicked, view, [view] {
                         if (view->currentRow() >= 0)
                             view->removeRow(view->currentRow());
                     });
    QObject::connect(editButton(RulesControl::tr("&Up"), QStringLiteral("pBtn_RuleUp")),
                     &QPushButton::clicked, view, [view] { MoveRuleRow(view, -1); });
    QObject::connect(editButton(RulesControl::tr("Do&wn"), QStringLiteral("pBtn_RuleDown")),
                     &QPushButton::clicked, view, [view] { MoveRuleRow(view, 1); });
    edits->addStretch();
    layout->addLayout(edits);

    // Return ends the editing of a cell; only a click or the Alt key saves (an accept button
    // would become the default, which Return presses).
    auto *buttons = new QDialogButtonBox(&dialog);
    QPushButton *ok = buttons->addButton(tableName.isEmpty() ? RulesControl::tr("&OK")
                                                             : RulesControl::tr("&Save"),
                                         QDialogButtonBox::ActionRole);
    QPushButton *cancel = buttons->addButton(QDialogButtonBox::Cancel);
    for (QPushButton *button : {ok, cancel}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(640, 400);
    view->setFocus();
    if (view->rowCount() > 0)
        view->setCurrentCell(0, 0);
    for (;;) {
        if (dialog.exec() != QDialog::Accepted)
            return rules;
        std::vector<ReplacementRule> edited;
        QStringList problems;
        for (int row = 0; row < view->rowCount(); ++row) {
            ReplacementRule rule;
            rule.enabled = view->item(row, OnColumn)->checkState() == Qt::Checked;
            rule.line = row + 1;
            const QString find = view->item(row, FindColumn)->text();
            const QString replacement = view->item(row, ReplaceColumn)->text();
            // A row added and left empty is no rule.
            if (find.isEmpty() && replacement.isEmpty())
                continue;
            if (!UnescapeRuleText(find, rule.find) ||
                !UnescapeRuleText(replacement, rule.replacement))
                problems << RulesControl::tr("rule %1: a backslash starts no escape").arg(row + 1);
            else if (rule.find.isEmpty())
                problems << RulesControl::tr("rule %1: the find text is empty").arg(row + 1);
            else
                edited.push_back(std::move(rule));
        }
        if (problems.isEmpty()) {
            accepted = true;
            return edited;
        }
        QMessageBox::warning(&dialog, dialog.windowTitle(), problems.join(QLatin1Char('\n')));
    }
}
