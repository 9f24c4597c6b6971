#pragma once

#include "engine/batch/BatchSettings.h"

#include <QString>
#include <QStringList>

// One invocation of parafold-cli, as the user typed it.
struct CommandRequest
{
    bool undo = false;  // the undo command; operation is then not used
    bool apply = false; // the apply command: planFile is then its plan
    Operation operation = Operation::FindText;
    QString source;
    QString saveDir;
    bool saveDirGiven = false;
    bool inPlace = false;
    QString find;
    QString replace;
    QString findFile;
    QString replaceFile;
    QString rulesFile; // replace-pairs --rules: a rule table instead of the two files
    bool rulesGiven = false;
    bool verbose = false; // replace-pairs: each rule's hits on stderr
    QString text;
    bool textGiven = false;
    QString textFile;
    bool textFileGiven = false;
    bool behind = false;
    QString terms;
    QString anyTerms;     // find --any
    QString noneTerms;    // find --none
    QStringList includes; // --include, each as given
    QStringList excludes; // --exclude
    bool withBom = false;
    bool noUtf16 = false;
    bool dryRun = false;
    bool report = false;
    bool nullSeparated = false;
    bool quiet = false;
    bool noJournal = false;
    bool noSync = false;
    bool noWait = false; // end at once while another operation holds the folder
    bool list = false;   // undo --list
    QString runId;       // undo --run
    ConvertTarget convertTo = ConvertTarget::Utf8;
    ConvertSource convertFrom = ConvertSource::Detect;
    LineEnds lineEnds = LineEnds::Keep;
    ChineseConfig chineseConfig = ChineseConfig::T2s;
    bool showEncoding = false;
    bool diff = false;
    QString planFile; // --plan, or apply's plan
    bool planGiven = false;
    int context = -1; // find --context: lines shown around each found line
};

struct ParsedCommandLine
{
    enum class Kind
    {
        Run,
        Help,
        Version,
        UsageError,
    };
    Kind kind = Kind::UsageError;
    CommandRequest request;
    QString error; // for UsageError
};

// Parses the arguments after the program name.
ParsedCommandLine ParseCommandLine(const QStringList &arguments);
