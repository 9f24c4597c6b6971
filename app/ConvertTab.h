#pragma once

#include "engine/batch/BatchSettings.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;

// The second tab, "编码转换": the conversion's own choices. The folders are the first tab's
// fields, shown here as they stand, so that both tabs always run on the same folders.
class ConvertTab : public QWidget
{
    Q_OBJECT

public:
    ConvertTab(QLineEdit *sourceField, QLineEdit *saveField, QCheckBox *saveInSource,
               QWidget *parent = nullptr);

    QPushButton *convertButton() const { return button; }
    QPushButton *chineseButton() const { return chinese; }
    // The place at the bottom where the run's status line, progress bar and stop button go
    // while this tab is shown.
    QHBoxLayout *statusRow() const { return status; }
    // Fills both conversions' part of settings.
    void capture(BatchSettings &settings) const;

private:
    void showFolders();

    QLineEdit *sourceField;
    QLineEdit *saveField;
    QCheckBox *saveInSource;
    QLabel *folders;
    QComboBox *target;
    QCheckBox *allowGb18030;
    QComboBox *source;
    QComboBox *lineEnds;
    QPushButton *button;
    QComboBox *chineseConfig;
    QPushButton *chinese;
    QHBoxLayout *status;
};
