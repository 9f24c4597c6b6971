#include "ReportFile.h"

#include "Codecs.h"
#include "WriteTextFile.h"

#include <QTextCodec>

bool WriteReport(const QString &reportPath, const QStringList &nativePaths)
{
    QString text;
    for (const QString &path : nativePaths) {
        text += path;
        text += QLatin1String("\r\n");
    }
    // GBK whatever the system's code page: the users' viewers read these lists as GBK.
    return WriteTextFile(reportPath, GbkCodec()->fromUnicode(text));
}
