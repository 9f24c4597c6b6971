#include "app/RulesControl.h"

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
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// A box line for a text: a line feed cannot stand in a box, so it is shown as its escape.
QString BoxText(const QString &text)
{
    return text.contains(QLatin1Char('\n')) ? EscapeRuleText(text) : text;
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
    add(tr("Switch rules &on or off..."), QStringLiteral("act_EditRules"),
        &RulesControl::editRules);
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
    if (watched == list &&
        (event->type() == QEvent::FocusIn || event->type() == QEvent::MouseButtonPress))
        refreshList();
    return QObject::eventFilter(watched, event);
}

void RulesControl::refreshList()
{
    const QString picked = list->currentIndex() > 0 ? list->currentText() : QString();
    list->clear();
    list->addItem(tr("(rule table)"));
    list->addItems(RuleTableNames(tablesFolder));
    const int index = picked.isEmpty() ? -1 : list->findText(picked);
    list->setCurrentIndex(index > 0 ? index : 0);
}

bool RulesControl::boxesShowTable() const
{
    return !table.empty() && findBox->toPlainText() == shownFinds &&
           replaceBox->toPlainText() == shownReplacements;
}

std::vector<ReplacementRule> RulesControl::runRules(QStringList &finds,
                                                    QStringList &replacements) const
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
    finds = TrimmedBoxLines(findBox->toPlainText());
    replacements = TrimmedBoxLines(replaceBox->toPlainText());
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

void RulesControl::editRules()
{
    bool accepted = false;
    std::vector<ReplacementRule> edited = EditRules(parentWidget, currentRules(), accepted);
    if (accepted)
        showRules(std::move(edited));
}

std::vector<ReplacementRule> EditRules(QWidget *parent, const std::vector<ReplacementRule> &rules,
                                       bool &accepted)
{
    accepted = false;
    QDialog dialog(parent);
    dialog.setWindowTitle(RulesControl::tr("Switch rules on or off"));
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
    view->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    view->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    view->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    view->setTabKeyNavigation(false);
    for (int row = 0; row < int(rules.size()); ++row) {
        const ReplacementRule &rule = rules[size_t(row)];
        auto *on = new QTableWidgetItem;
        on->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        on->setCheckState(rule.enabled ? Qt::Checked : Qt::Unchecked);
        on->setData(Qt::AccessibleTextRole, RulesControl::tr("Rule %1 on").arg(row + 1));
        view->setItem(row, 0, on);
        view->setItem(row, 1, new QTableWidgetItem(EscapeRuleText(rule.find)));
        view->setItem(row, 2, new QTableWidgetItem(EscapeRuleText(rule.replacement)));
    }
    layout->addWidget(view);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
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
            rule.enabled = view->item(row, 0)->checkState() == Qt::Checked;
            rule.line = row + 1;
            if (!UnescapeRuleText(view->item(row, 1)->text(), rule.find) ||
                !UnescapeRuleText(view->item(row, 2)->text(), rule.replacement))
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
