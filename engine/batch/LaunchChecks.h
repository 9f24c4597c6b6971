#pragma once

#include "engine/batch/BatchSettings.h"

#include <QString>

// The checks a launch makes before a run, shared by the window and the command line.

QString messageSourceMissing(); // "源文件夹不存在,请选择正确路径!"
QString messageFolderMissing(); // "文件夹不存在,请选择正确路径!"
QString messageSaveMissing();   // "保存文件夹不存在,请选择正确路径!"
QString messageSameFolder(); // "保存文件夹不能与源文件夹相同,如需覆盖原文件请勾选保存在原文件夹!"
QString messageSaveInsideSource();   // "保存文件夹不能位于源文件夹之内!"
QString messageSourceReadOnly();     // "源文件夹不可写"
QString messageSaveReadOnly();       // "保存文件夹不可写"
QString messageEmptyFind();          // "查找内容不能为空!"
QString messageEmptyInsert();        // "插入内容不能为空!"
QString messageCountMismatch();      // "查找数和替换数不一致,请核对!"
QString messageCountMismatchTitle(); // "注意："
QString messagePlanMismatch();       // "预览文件与所选文件夹不符"

// The operation's checks in their fixed order (folders, and for the single replace and the
// insert an empty text), then the refusal of a save folder that is the source folder or lies
// inside it, then of a folder the edit would write into that its user may not write; the
// first failing check's message, or an empty string. Unequal pair lists are the
// caller's to refuse, when it splits the texts.
QString FolderCheckMessage(Operation operation, const BatchSettings &settings);

// True when the operation's own text is empty: the single replace's search text or the text
// to insert. Such a launch is refused before it deletes or stores anything.
bool LacksItsText(Operation operation, const BatchSettings &settings);

// Deletes the report files of an earlier run at settings' three report paths. Does nothing
// without a source folder, where the paths would be bare names in the working folder, and
// never deletes a folder.
void DeleteStaleReports(const BatchSettings &settings);
