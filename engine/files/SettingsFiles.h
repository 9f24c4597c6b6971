#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The small file calls of the window and the command line: their settings file, their input
// files, and how they name paths to the user.

// Reads at most maxBytes from the start of the file at path. False, with the system's words in
// error (when given), when it cannot be opened or read.
bool ReadFileStart(const QString &path, qint64 maxBytes, QByteArray &bytes,
                   QString *error = nullptr);

// Replaces the settings file at path with bytes: written beside it and renamed over it, so a
// crash leaves the old one; where the folder may not be written but the file may (a program
// folder set up by an administrator), the file is written in place.
bool ReplaceSettingsFile(const QString &path, const QByteArray &bytes);

// The settings file a copy of the window uses: `besideProgram` where that file is there (the
// zip and a build carry one: such a copy is portable), otherwise Parafold.cvn in `userFolder`,
// made empty the first time, since an installed copy may not write beside its executable.
QString ChooseSettingsFile(const QString &besideProgram, const QString &userFolder);

// A path as a user hands it over, made the path meant: a pair of quotes around the whole
// text (Explorer's "copy as path" adds them) taken off, a file:// URL made a local path.
// Blanks are kept: "书 " is another folder than 书.
QString PathHandedOver(const QString &given);
// The same for a folder field, with a file's own folder in place of the file.
QString FolderHandedOver(const QString &given);
// The folder of `Parafold FOLDER` as handed over, made absolute against this process's
// working folder (the window that takes it may work elsewhere), nothing else changed.
QString FolderArgument(const QString &argument);

// path made absolute against the working folder and cleaned of "." and "..".
QString AbsoluteCleanPath(const QString &path);

// The folder of saved replacement rule tables: "rules" beside the settings file, so a portable
// copy carries its tables with it.
QString RuleTablesFolder(const QString &settingsFile);
// The tables in that folder: the names of its .txt files, sorted; none when it is missing.
QStringList RuleTableNames(const QString &folder);
