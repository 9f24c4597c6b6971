#include "engine/journal/RunDescription.h"

#include <QCoreApplication>

namespace {

const int shownCharacters = 16;

// One line of at most shownCharacters, line breaks shown as "↵": the journal's lines are
// tab-separated, and a long text would bury the rest of the message.
QString Shortened(const QString &text)
{
    QString line = text;
    line.replace(QLatin1String("\r\n"), QStringLiteral("↵"));
    for (QChar &c : line) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QChar(0x21B5);
        else if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    if (line.size() > shownCharacters)
        line = line.left(shownCharacters) + QStringLiteral("…");
    return line;
}

QString Pair(const QString &find, const QString &replacement)
{
    return Shortened(find) + QStringLiteral("→") + Shortened(replacement);
}

QString ConversionTerms(const BatchSettings &settings)
{
    QString target;
    switch (settings.convertTo) {
    case ConvertTarget::Utf8:
        target = QStringLiteral("UTF-8");
        break;
    case ConvertTarget::Utf8WithBom:
        target = QCoreApplication::translate("RunDescription", "UTF-8 with BOM");
        break;
    case ConvertTarget::Gbk:
        target = QStringLiteral("GBK");
        break;
    case ConvertTarget::Gb18030:
        target = QStringLiteral("GBK/GB18030");
        break;
    case ConvertTarget::Utf16LeWithBom:
        target = QStringLiteral("UTF-16LE");
        break;
    }
    switch (settings.convertLineEnds) {
    case LineEnds::Keep:
        break;
    case LineEnds::CrLf:
        return QCoreApplication::translate("RunDescription", "to %1, CR LF line ends").arg(target);
    case LineEnds::Lf:
        return QCoreApplication::translate("RunDescription", "to %1, LF line ends").arg(target);
    }
    return QCoreApplication::translate("RunDescription", "to %1").arg(target);
}

} // namespace

QString RunTerms(Operation operation, const BatchSettings &settings)
{
    switch (operation) {
    case Operation::ReplaceText:
        return Pair(settings.findText, settings.replaceText);
    case Operation::ReplacePairs: {
        const int count = std::min(settings.findLines.size(), settings.replaceLines.size());
        QString text = QCoreApplication::translate("RunDescription", "%1 pairs").arg(count);
        for (int i = 0; i < count && i < 2; ++i)
            text += (i == 0 ? QStringLiteral(":") : QStringLiteral(";")) +
                    Pair(settings.findLines.at(i), settings.replaceLines.at(i));
        return count > 2 ? text + QStringLiteral("…") : text;
    }
    case Operation::InsertText:
        return (settings.insertAtFront
                    ? QCoreApplication::translate("RunDescription", "at the start “")
                    : QCoreApplication::translate("RunDescription", "at the end “")) +
               Shortened(settings.insertText) + QStringLiteral("”");
    case Operation::ConvertEncoding:
        return ConversionTerms(settings);
    case Operation::ConvertChinese:
        return ChineseConfigTitle(settings.chineseConfig);
    case Operation::FindText:
        break;
    }
    return QString();
}

QString RunDescription(const JournalRun &run)
{
    QString name = run.operation;
    if (run.operation == QLatin1String("replace"))
        name = QCoreApplication::translate("RunDescription", "Find and replace");
    else if (run.operation == QLatin1String("replace-pairs"))
        name = QCoreApplication::translate("RunDescription", "Replace several texts at once");
    else if (run.operation == QLatin1String("insert"))
        name = QCoreApplication::translate("RunDescription", "Insert text");
    else if (run.operation == QLatin1String("convert"))
        name = QCoreApplication::translate("RunDescription", "Convert encoding");
    else if (run.operation == QLatin1String("chinese"))
        name = QCoreApplication::translate("RunDescription", "Simplified/traditional conversion");
    QString text = QStringLiteral("“") + name + QStringLiteral("”");
    if (!run.terms.isEmpty())
        text += QStringLiteral("(") + run.terms + QStringLiteral(")");
    return text;
}

QString RunTimeText(const JournalRun &run)
{
    QString text = JournalTimeText(run.startedMs);
    // A run folder named "20261207-103012-2" is the second of its second.
    const int dash = run.id.lastIndexOf(QLatin1Char('-'));
    if (dash > 0 && run.id.indexOf(QLatin1Char('-')) < dash)
        text += QCoreApplication::translate("RunDescription", " (run %1 of that second)")
                    .arg(run.id.mid(dash + 1));
    return text;
}
