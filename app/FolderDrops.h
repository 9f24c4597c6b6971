#pragma once

#include <QObject>

class QLineEdit;
class QWidget;

// Lets a folder be dragged from the file manager onto a folder field: the field takes the
// folder (a dropped file's own folder), where a line edit would type the file:// URL.
class FolderDrops : public QObject
{
    Q_OBJECT

public:
    // Drops on `target` (the field itself, or the window around it) fill `field`.
    static void Fill(QWidget *target, QLineEdit *field);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    FolderDrops(QLineEdit *field, QObject *parent);

    QLineEdit *field;
};
