#pragma once

#include "engine/operations/RuleTable.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>
#include <vector>

class QAction;
class QComboBox;
class QDialog;
class QPlainTextEdit;
class QPushButton;
class QWidget;

// The pairs area's rule tables (替换规则表): a list of the tables saved in "rules" beside the
// settings file, which fills the two pair boxes, and a menu to save the boxes as a named
// table, import a table or the two-file form, export, and switch rules on and off.
// The boxes hold the switched-on rules; the table behind them also keeps those switched off,
// and texts the boxes cannot show as they are (a line feed), which a run takes from the table
// as long as the boxes are left as they were filled.
class RulesControl : public QObject
{
    Q_OBJECT

public:
    RulesControl(QPlainTextEdit *findBox, QPlainTextEdit *replaceBox, const QString &settingsFile,
                 QWidget *parent);

    QComboBox *tableList() const { return list; }
    QPushButton *menuButton() const { return button; }

    // What the boxes' lines hold that a run should not take unasked.
    struct BoxProblems
    {
        QStringList errors;  // a backslash that starts no escape: the run is refused
        QStringList escapes; // typed lines holding a line feed or tab escape: asked first
    };
    // The rules of a run: the table's switched-on rules while the boxes show it, else the
    // boxes' lines (numbered by line), their escapes resolved. finds and replacements get the
    // run's pairs, empty finds kept as the boxes have them.
    std::vector<ReplacementRule> runRules(QStringList &finds, QStringList &replacements,
                                          BoxProblems *problems = nullptr) const;
    // Every rule as it would be saved: those switched off too.
    std::vector<ReplacementRule> currentRules() const;
    // Fills the boxes from the rules, which become the table behind them.
    void showRules(std::vector<ReplacementRule> rules);
    // Reads the named table of the folder into the boxes; false, with the errors shown to the
    // user, when it cannot be read or has a line in error.
    bool pickTable(const QString &name);
    QString folder() const { return tablesFolder; }
    // Lists the folder's tables again, keeping the one picked.
    void refreshList();
    // Keeps the last run's hits per rule for the menu's table of them, and shows it.
    void showHits(const QStringList &rules, const QVector<qint64> &hits);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void saveAsTable();
    void importTable();
    void importPairFiles();
    void exportTable();
    void editRules();
    void openHits();
    bool boxesShowTable() const;
    // False, with the lines named to the user, when a box line has a stray backslash.
    bool boxesReadable();
    void showProblem(const QString &title, const QString &text);

    QPlainTextEdit *findBox;
    QPlainTextEdit *replaceBox;
    QWidget *parentWidget;
    QString tablesFolder;
    QComboBox *list;
    QPushButton *button;
    std::vector<ReplacementRule> table; // the rules behind the boxes
    QString shownFinds;                 // the boxes' texts as they were filled
    QString shownReplacements;
    QAction *hitsAction = nullptr;
    QPointer<QDialog> hitsView; // the last run's hits per rule, while open
    QStringList hitRules;
    QVector<qint64> ruleHits;
};

// Rules one per row: a check box to switch each on or off (a rule switched off stays, greyed),
// its two texts written with the table's escapes, editable; rules are added, deleted and moved.
// tableName, when given, is the table the OK button saves.
std::vector<ReplacementRule> EditRules(QWidget *parent, const std::vector<ReplacementRule> &rules,
                                       bool &accepted, const QString &tableName = QString());
