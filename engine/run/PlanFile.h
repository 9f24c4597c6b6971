#pragma once

#include "engine/batch/BatchSettings.h"
#include "engine/run/Plan.h"

#include <QByteArray>
#include <QHash>
#include <QString>

// A plan as a file: one JSON object per line, the run's operation and settings first, then
// one object per planned file. A path that is not text (FileNames.h) is kept as the base64
// of its bytes under "pathBase64" instead of "path", so that it names the same file again.
QByteArray PlanHeaderLine(Operation operation, const BatchSettings &settings);
QByteArray PlanFileLine(const PlannedFile &file);

struct StoredPlan
{
    Operation operation = Operation::ReplaceText;
    BatchSettings settings;
    QHash<QString, quint64> files; // the files to write, by relative path: their hashes
    int failedFiles = 0;           // listed as failed when planned: not applied
};

// False, with the reason in error, when the bytes are not a plan.
bool ParsePlan(const QByteArray &bytes, StoredPlan &plan, QString &error);
