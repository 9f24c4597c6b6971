#pragma once

#include "engine/batch/BatchSettings.h"
#include "engine/journal/Journal.h"

#include <QString>

// What a run did, in the words a user chose it by: kept in the run's journal so that undo
// can say which run it takes back.

// The run's texts, shortened to one line: "小云→小雲", "2组:小云→小雲;小吉→小橘",
// "开头插入“第一章”".
QString RunTerms(Operation operation, const BatchSettings &settings);

// The operation under the window's name, with its texts: "“查找替换”(小云→小雲)".
QString RunDescription(const JournalRun &run);

// When the run started, "2026-12-07 10:30:12", and "(该秒第2次)" for a later run of the same
// second, so that two such runs are told apart.
QString RunTimeText(const JournalRun &run);
