#include "app/RecentTerms.h"

#include "app/ConfigFile.h"

#include <QAction>
#include <QFontMetrics>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>
#include <QStyle>

namespace {

constexpr int menuTextWidth = 400; // pixels; a longer entry is shown cut in the middle

QString Escaped(const QString &entry)
{
    QString escaped;
    escaped.reserve(entry.size());
    for (const QChar c : entry) {
        switch (c.unicode()) {
        case '\\':
            escaped += QLatin1String("\\\\");
            break;
        case '\t':
            escaped += QLatin1String("\\t");
            break;
        case '\r':
            escaped += QLatin1String("\\r");
            break;
        case '\n':
            escaped += QLatin1String("\\n");
            break;
        case ' ':
            escaped += QLatin1String("\\s");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

QString Unescaped(const QString &text)
{
    QString entry;
    entry.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\\') || i + 1 == text.size()) {
            entry += c;
            continue;
        }
        switch (text.at(++i).unicode()) {
        case 't':
            entry += QLatin1Char('\t');
            break;
        case 'r':
            entry += QLatin1Char('\r');
            break;
        case 'n':
            entry += QLatin1Char('\n');
            break;
        case 's':
            entry += QLatin1Char(' ');
            break;
        default:
            entry += text.at(i);
        }
    }
    return entry;
}

} // namespace

QStringList AddRecentTerm(QStringList entries, const QString &text)
{
    if (text.isEmpty())
        return entries;
    entries.removeAll(text);
    entries.prepend(text);
    while (entries.size() > recentTermsKept)
        entries.removeLast();
    return entries;
}

QByteArray RecentTermsValue(const QStringList &entries)
{
    QByteArray value;
    for (const QString &entry : entries) {
        const QByteArray bytes = ToConfigBytes(Escaped(entry));
        if (FromConfigBytes(bytes) != Escaped(entry))
            continue; // lossy in the settings file's encoding
        const int size = value.size() + (value.isEmpty() ? 0 : 1) + bytes.size();
        if (size >= CONFIG_VALUE_SIZE)
            break;
        if (!value.isEmpty())
            value += '\t';
        value += bytes;
    }
    return value;
}

QStringList RecentTermsFromValue(const QByteArray &value)
{
    QStringList entries;
    for (const QString &text : FromConfigBytes(value).split(QLatin1Char('\t'))) {
        const QString entry = Unescaped(text);
        if (!entry.isEmpty() && !entries.contains(entry) && entries.size() < recentTermsKept)
            entries << entry;
    }
    return entries;
}

RecentTerms::RecentTerms(QLineEdit *field, const QByteArray &key, const QString &settingsFile)
    : QObject(field), field(field), key(key), settingsFile(settingsFile)
{
    QByteArray content;
    ReadConfigFile(content, settingsFile);
    entries = RecentTermsFromValue(GetConfigValue(content, key));
    QAction *arrow = field->addAction(field->style()->standardIcon(QStyle::SP_ArrowDown),
                                      QLineEdit::TrailingPosition);
    arrow->setToolTip(tr("Recent entries (Alt+Down)"));
    connect(arrow, &QAction::triggered, this, &RecentTerms::showMenu);
    auto *shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Down), field);
    shortcut->setContext(Qt::WidgetShortcut);
    connect(shortcut, &QShortcut::activated, this, &RecentTerms::showMenu);
}

void RecentTerms::remember()
{
    const QStringList updated = AddRecentTerm(entries, field->text());
    if (updated == entries)
        return;
    entries = updated;
    store();
}

void RecentTerms::showMenu()
{
    QMenu menu(field);
    const QFontMetrics metrics(menu.font());
    for (const QString &entry : entries) {
        // "&" would mark a shortcut letter.
        QAction *action = menu.addAction(metrics.elidedText(entry, Qt::ElideMiddle, menuTextWidth)
                                             .replace(QLatin1Char('&'), QLatin1String("&&")));
        connect(action, &QAction::triggered, field, [this, entry] { field->setText(entry); });
    }
    if (entries.isEmpty())
        menu.addAction(tr("No recent entries"))->setEnabled(false);
    menu.addSeparator();
    QAction *clear = menu.addAction(tr("Clear the list"));
    clear->setEnabled(!entries.isEmpty());
    connect(clear, &QAction::triggered, this, [this] {
        entries.clear();
        store();
    });
    menu.exec(field->mapToGlobal(QPoint(0, field->height())));
}

void RecentTerms::store()
{
    // An unwritable settings file only means the entries are not remembered.
    SetConfigValue(settingsFile, key, RecentTermsValue(entries));
}
