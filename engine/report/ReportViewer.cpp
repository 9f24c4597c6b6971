#include "engine/report/ReportViewer.h"

#include "engine/files/Paths.h"

#include <QProcess>

bool OpenInNotepad(const QString &reportPath, const DetachedStart &start)
{
    const QString program = QStringLiteral("notepad.exe");
    const QStringList arguments{NativeSeparators(reportPath)};
    return start ? start(program, arguments) : QProcess::startDetached(program, arguments);
}

ReportOpener NotepadOpener(DetachedStart start)
{
    return [start](const QString &reportPath) { OpenInNotepad(reportPath, start); };
}
