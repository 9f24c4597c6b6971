#pragma once

#include "engine/batch/BatchSettings.h"
#include "engine/run/Plan.h"

#include <QByteArray>
#include <QHash>
#include <QString>

class QJsonObject;

// A plan as a file: one JSON object per line, the run's operation and settings first, then
// one object per planned file, then one that ends the plan with the number of files, so that a
// plan cut short is told from a whole one. A path that is not text (FileNames.h) is kept as the
// base64 of its bytes under "pathBase64" instead of "path", so that it names the same file
// again.
QByteArray PlanHeaderLine(Operation operation, const BatchSettings &settings);
QByteArray PlanFileLine(const PlannedFile &file);
QByteArray PlanEndLine(int files);

// A plan file as read: the files listed as failed when it was made are not applied.
struct StoredPlan : ReviewedPlan
{
    int failedFiles = 0;
};

// Takes a plan a line at a time. A plan is untrusted: a line that is not its next part
// refuses it whole, naming the line.
class PlanParser
{
public:
    explicit PlanParser(StoredPlan &plan) : plan(plan) {}
    // A line without its line feed; ended tells whether one followed it. False, with the
    // reason in error(), when the line refuses the plan.
    bool take(const QByteArray &line, bool ended);
    // After the last line: false, with the reason in error(), when the plan is not whole.
    bool finish();
    QString error() const { return why; }

private:
    bool fail(const QString &reason);
    bool takeHeader(const QJsonObject &object);
    bool takeFile(const QJsonObject &object);
    bool takeEnd(const QJsonObject &object);

    StoredPlan &plan;
    QString why;
    int lineNumber = 0;
    int version = 0; // 0 before the header
    int files = 0;
    bool ended = false; // the end line was read
};

// False, with the reason in error, when the bytes are not a whole plan.
bool ParsePlan(const QByteArray &bytes, StoredPlan &plan, QString &error);
// The same for a plan file, read a piece at a time and refused over 2 GiB.
bool ReadPlanFile(const QString &path, StoredPlan &plan, QString &error);
// True when the file at path starts as a plan does (a plan that may be replaced).
bool LooksLikePlan(const QString &path);
