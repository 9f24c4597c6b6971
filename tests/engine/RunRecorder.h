#pragma once

#include "engine/run/RunBatch.h"

#include <QString>
#include <QStringList>

// Records every observer call of a run, in order.
struct RunRecorder
{
    QStringList events;
    QStringList shown;
    QStringList found;
    QStringList failed;
    QStringList reasons;
    QStringList described; // with the system's words
    QStringList opened;
    qint64 bytes = 0;
    int finished = 0;

    RunObserver observer()
    {
        RunObserver o;
        o.scanFinished = [this](int count) { events += QStringLiteral("scan %1").arg(count); };
        o.showDisposingFile = [this](const QString &text) {
            shown += text;
            events += QStringLiteral("show ") + text;
        };
        o.fileHandled = [this](qint64 size) { bytes += size; };
        o.fileFound = [this](const QString &path) {
            found += path;
            events += QStringLiteral("found ") + path;
        };
        o.fileFailed = [this](const QString &path, const FileFailure &failure) {
            failed += path;
            reasons += failure.reason();
            described += failure.describe();
            events += QStringLiteral("failed ") + path;
        };
        o.runFinished = [this] {
            ++finished;
            events += QStringLiteral("finished");
        };
        o.openReport = [this](const QString &path) {
            opened += path;
            events += QStringLiteral("open ") + path;
        };
        return o;
    }
};
