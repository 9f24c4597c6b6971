#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Shows a written report to the user.
using ReportOpener = std::function<void(const QString &reportPath)>;
// Starts a program detached, as QProcess::startDetached does; true when it started.
using DetachedStart = std::function<bool(const QString &program, const QStringList &arguments)>;

// Notepad, started detached with the report's native path: the viewer of Windows users.
// `start` starts it, QProcess::startDetached when none is given (a test records instead).
ReportOpener NotepadOpener(DetachedStart start = DetachedStart());
// The same, once; false when Notepad could not be started.
bool OpenInNotepad(const QString &reportPath, const DetachedStart &start = DetachedStart());
