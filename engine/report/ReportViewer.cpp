#include "engine/report/ReportViewer.h"

#include "engine/files/Paths.h"

#include <QProcess>

ReportOpener NotepadOpener(DetachedStart start)
{
    if (!start) {
        start = [](const QString &program, const QStringList &arguments) {
            return QProcess::startDetached(program, arguments);
        };
    }
    return [start](const QString &reportPath) {
        start(QStringLiteral("notepad.exe"), {NativeSeparators(reportPath)});
    };
}
