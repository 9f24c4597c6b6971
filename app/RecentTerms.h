#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QLineEdit;

constexpr int recentTermsKept = 20;

// A field's last entries, newest first: text put in front, an equal entry and an empty one
// dropped, at most recentTermsKept.
QStringList AddRecentTerm(QStringList entries, const QString &text);
// The entries as one settings value, tab between them, with "\\", tab, CR, LF and blank
// escaped (a value loses its outer blanks, and a term keeps its own). Oldest entries that do
// not fit in a value, and entries the settings file's encoding cannot hold, are left out.
QByteArray RecentTermsValue(const QStringList &entries);
QStringList RecentTermsFromValue(const QByteArray &value);

// Gives a search field a drop-down of its recent entries (the arrow at its end, or Alt+Down),
// with a way to clear them, kept in the settings file under a key of its own.
class RecentTerms : public QObject
{
    Q_OBJECT

public:
    RecentTerms(QLineEdit *field, const QByteArray &key, const QString &settingsFile);
    // The field's text, as a run takes it.
    void remember();

private:
    void showMenu();
    void store();

    QLineEdit *field;
    QByteArray key;
    QString settingsFile;
    QStringList entries;
};
