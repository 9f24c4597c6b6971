#include "cli/CommandLine.h"

#include "engine/batch/FileMasks.h"
#include "engine/files/FileNames.h"
#include <QCoreApplication>
#include <QStringView>
#include <QTextCodec>

namespace {

enum CommandBit : unsigned
{
    OnReplace = 1,
    OnPairs = 2,
    OnInsert = 4,
    OnFind = 8,
    OnUndo = 16,
    OnConvert = 32,
    OnApply = 64,
    OnChinese = 128,
    OnEdits = OnReplace | OnPairs | OnInsert,
    OnConversions = OnConvert | OnChinese,
    OnWrites = OnEdits | OnConversions,
    OnRuns = OnEdits | OnFind,
};

enum class Key
{
    Find,
    Replace,
    FindFile,
    ReplaceFile,
    Text,
    TextFile,
    Behind,
    Terms,
    SaveDir,
    InPlace,
    Bom,
    NoUtf16,
    DryRun,
    Report,
    Null,
    Quiet,
    Help,
    Version,
    NoJournal,
    NoSync,
    NoWait,
    List,
    Run,
    To,
    From,
    Eol,
    ShowEncoding,
    Diff,
    Plan,
    Context,
    Config,
    Rules,
    Verbose,
    AnyTerms,
    NoneTerms,
    Include,
    Exclude,
};

struct OptionRule
{
    Key key;
    const char *longName;
    char shortName; // 0 when there is none
    bool takesValue;
    unsigned commands;
};

const OptionRule optionRules[] = {
    {Key::Find, "find", 0, true, OnReplace},
    {Key::Replace, "replace", 0, true, OnReplace},
    {Key::FindFile, "find-file", 0, true, OnPairs},
    {Key::ReplaceFile, "replace-file", 0, true, OnPairs},
    {Key::Rules, "rules", 0, true, OnPairs},
    {Key::Verbose, "verbose", 'v', false, OnPairs},
    {Key::Text, "text", 0, true, OnInsert},
    {Key::TextFile, "text-file", 0, true, OnInsert},
    {Key::Behind, "behind", 0, false, OnInsert},
    {Key::Terms, "terms", 0, true, OnFind},
    {Key::AnyTerms, "any", 0, true, OnFind},
    {Key::NoneTerms, "none", 0, true, OnFind},
    {Key::Include, "include", 0, true, OnRuns | OnConversions},
    {Key::Exclude, "exclude", 0, true, OnRuns | OnConversions},
    {Key::SaveDir, "save-dir", 0, true, OnWrites | OnApply},
    {Key::InPlace, "in-place", 0, false, OnWrites | OnApply},
    {Key::Bom, "bom", 0, false, OnEdits},
    {Key::NoJournal, "no-journal", 0, false, OnWrites | OnApply},
    {Key::NoSync, "no-sync", 0, false, OnWrites | OnApply},
    {Key::NoWait, "no-wait", 0, false, OnWrites | OnApply | OnUndo},
    {Key::Diff, "diff", 0, false, OnEdits},
    {Key::Plan, "plan", 0, true, OnRuns},
    {Key::Context, "context", 0, true, OnFind},
    {Key::NoUtf16, "no-utf16", 0, false, OnRuns},
    {Key::DryRun, "dry-run", 0, false, OnRuns | OnConversions | OnUndo},
    {Key::Report, "report", 0, false, OnRuns | OnConversions | OnApply},
    {Key::Null, "null", '0', false, OnRuns | OnConversions | OnUndo | OnApply},
    {Key::Quiet, "quiet", 'q', false, OnRuns | OnConversions | OnUndo | OnApply},
    {Key::List, "list", 0, false, OnUndo},
    {Key::Run, "run", 0, true, OnUndo},
    {Key::To, "to", 0, true, OnConvert},
    {Key::From, "from", 0, true, OnConvert},
    {Key::Eol, "eol", 0, true, OnConvert},
    {Key::Config, "config", 0, true, OnChinese},
    {Key::ShowEncoding, "show-encoding", 0, false, OnRuns | OnConversions},
    {Key::Help, "help", 'h', false, OnRuns | OnConversions | OnUndo | OnApply},
    {Key::Version, "version", 0, false, OnRuns | OnConversions | OnUndo | OnApply},
};

struct CommandRule
{
    const char *name;
    Operation operation;
    unsigned bit;
};

const CommandRule commandRules[] = {
    {"replace", Operation::ReplaceText, OnReplace},
    {"replace-pairs", Operation::ReplacePairs, OnPairs},
    {"insert", Operation::InsertText, OnInsert},
    {"find", Operation::FindText, OnFind},
    {"convert", Operation::ConvertEncoding, OnConvert},
    {"chinese", Operation::ConvertChinese, OnChinese},
    {"undo", Operation::FindText, OnUndo},
    {"apply", Operation::FindText, OnApply},
};

const OptionRule *FindLong(QStringView name)
{
    for (const OptionRule &rule : optionRules) {
        if (name == QLatin1String(rule.longName))
            return &rule;
    }
    return nullptr;
}

const OptionRule *FindShort(QChar name)
{
    for (const OptionRule &rule : optionRules) {
        if (rule.shortName != 0 && name == QLatin1Char(rule.shortName))
            return &rule;
    }
    return nullptr;
}

QString Spelling(const OptionRule &rule)
{
    return QStringLiteral("--") + QLatin1String(rule.longName);
}

template <typename Value> struct Choice
{
    const char *name;
    Value value;
};

const Choice<ConvertTarget> targetChoices[] = {
    {"utf-8", ConvertTarget::Utf8},
    {"utf-8-bom", ConvertTarget::Utf8WithBom},
    {"gbk", ConvertTarget::Gbk},
    {"gb18030", ConvertTarget::Gb18030},
    {"utf-16le", ConvertTarget::Utf16LeWithBom},
};
const Choice<ConvertSource> sourceChoices[] = {
    {"auto", ConvertSource::Detect},
    {"big5", ConvertSource::Big5},
    {"gbk", ConvertSource::Gbk},
    {"gb18030", ConvertSource::Gb18030},
};
const Choice<ChineseConfig> chineseChoices[] = {
    {"t2s", ChineseConfig::T2s},   {"s2t", ChineseConfig::S2t},     {"s2twp", ChineseConfig::S2twp},
    {"s2hk", ChineseConfig::S2hk}, {"tw2sp", ChineseConfig::Tw2sp}, {"hk2s", ChineseConfig::Hk2s},
};
const Choice<LineEnds> lineEndChoices[] = {
    {"keep", LineEnds::Keep},
    {"crlf", LineEnds::CrLf},
    {"lf", LineEnds::Lf},
};

// Options whose value is text to search or write, not a path.
bool TakesText(Key key)
{
    return key == Key::Find || key == Key::Replace || key == Key::Text || key == Key::Terms ||
           key == Key::AnyTerms || key == Key::NoneTerms || key == Key::Include ||
           key == Key::Exclude;
}

// Options that add to a list each time they are given.
bool Repeatable(Key key)
{
    return key == Key::Include || key == Key::Exclude;
}

class Parser
{
public:
    explicit Parser(const QStringList &arguments) : arguments(arguments) {}

    ParsedCommandLine parse()
    {
        if (arguments.isEmpty())
            return usage(QCoreApplication::translate("CommandLine", "a command is missing"));
        const QString &first = arguments.first();
        if (first == QLatin1String("-h") || first == QLatin1String("--help"))
            return kindOnly(ParsedCommandLine::Kind::Help);
        if (first == QLatin1String("--version"))
            return kindOnly(ParsedCommandLine::Kind::Version);
        const CommandRule *command = nullptr;
        for (const CommandRule &rule : commandRules) {
            if (first == QLatin1String(rule.name))
                command = &rule;
        }
        if (!command)
            return usage(
                QCoreApplication::translate("CommandLine", "unknown command '%1'").arg(first));
        commandBit = command->bit;
        result.request.undo = command->bit == OnUndo;
        result.request.apply = command->bit == OnApply;
        result.request.operation = command->operation;

        QStringList positionals;
        bool optionsEnded = false;
        for (index = 1; index < arguments.size(); ++index) {
            const QString &argument = arguments.at(index);
            if (optionsEnded || argument == QLatin1String("-") ||
                !argument.startsWith(QLatin1Char('-'))) {
                positionals << argument;
            } else if (argument == QLatin1String("--")) {
                optionsEnded = true;
            } else if (argument.startsWith(QLatin1String("--"))) {
                if (!takeLong(argument))
                    return result;
            } else if (!takeShorts(argument)) {
                return result;
            }
            if (result.kind != ParsedCommandLine::Kind::UsageError)
                return result; // --help or --version ends the parse
        }
        // apply PLAN SOURCE: the plan names no folder that is used.
        if (result.request.apply) {
            if (positionals.isEmpty())
                return usage(QCoreApplication::translate("CommandLine", "PLAN is missing"));
            result.request.planFile = positionals.takeFirst();
        }
        if (positionals.isEmpty())
            return usage(QCoreApplication::translate("CommandLine", "SOURCE is missing"));
        if (positionals.size() > 1)
            return usage(QCoreApplication::translate("CommandLine", "unexpected argument '%1'")
                             .arg(positionals.at(1)));
        result.request.source = positionals.first();
        if (!checkCombination())
            return result;
        result.kind = ParsedCommandLine::Kind::Run;
        return result;
    }

private:
    ParsedCommandLine kindOnly(ParsedCommandLine::Kind kind)
    {
        result.kind = kind;
        return result;
    }

    ParsedCommandLine usage(const QString &message)
    {
        result.kind = ParsedCommandLine::Kind::UsageError;
        result.error = message;
        return result;
    }

    bool fail(const QString &message)
    {
        usage(message);
        return false;
    }

    bool takeLong(const QString &argument)
    {
        const int equals = argument.indexOf(QLatin1Char('='));
        const int nameEnd = equals < 0 ? argument.size() : equals;
        const QStringView name = QStringView(argument).mid(2, nameEnd - 2);
        const OptionRule *rule = FindLong(name);
        if (!rule)
            return fail(
                QCoreApplication::translate("CommandLine", "unknown option '%1'").arg(argument));
        if (equals >= 0) {
            if (!rule->takesValue)
                return fail(QCoreApplication::translate("CommandLine", "%1 takes no value")
                                .arg(Spelling(*rule)));
            return apply(*rule, argument.mid(equals + 1));
        }
        return takeWithNextValue(*rule);
    }

    bool takeShorts(const QString &argument)
    {
        for (int i = 1; i < argument.size(); ++i) {
            const OptionRule *rule = FindShort(argument.at(i));
            if (!rule)
                return fail(QCoreApplication::translate("CommandLine", "unknown option '-%1'")
                                .arg(argument.at(i)));
            if (!apply(*rule, QString()))
                return false;
            if (result.kind != ParsedCommandLine::Kind::UsageError)
                return true;
        }
        return true;
    }

    bool takeWithNextValue(const OptionRule &rule)
    {
        if (!rule.takesValue)
            return apply(rule, QString());
        if (index + 1 >= arguments.size())
            return fail(
                QCoreApplication::translate("CommandLine", "%1 needs a value").arg(Spelling(rule)));
        ++index;
        return apply(rule, arguments.at(index));
    }

    bool apply(const OptionRule &rule, const QString &value)
    {
        if (rule.key == Key::Help) {
            result.kind = ParsedCommandLine::Kind::Help;
            return true;
        }
        if (rule.key == Key::Version) {
            result.kind = ParsedCommandLine::Kind::Version;
            return true;
        }
        if (!(rule.commands & commandBit))
            return fail(
                QCoreApplication::translate("CommandLine", "%1 does not apply to the command '%2'")
                    .arg(Spelling(rule), arguments.first()));
        const quint64 seenBit = quint64(1) << static_cast<unsigned>(rule.key);
        if ((seen & seenBit) && !Repeatable(rule.key))
            return fail(QCoreApplication::translate("CommandLine", "%1 is given twice")
                            .arg(Spelling(rule)));
        seen |= seenBit;
        // Guessing at such bytes would search or write something else than was typed.
        if (TakesText(rule.key) && HasUndecodedBytes(value))
            return fail(
                QCoreApplication::translate("CommandLine", "%1: the value is not valid %2 text")
                    .arg(Spelling(rule),
                         QString::fromLatin1(QTextCodec::codecForLocale()->name())));

        CommandRequest &request = result.request;
        switch (rule.key) {
        case Key::Find:
            request.find = value;
            break;
        case Key::Replace:
            request.replace = value;
            break;
        case Key::FindFile:
            request.findFile = value;
            break;
        case Key::ReplaceFile:
            request.replaceFile = value;
            break;
        case Key::Text:
            request.text = value;
            request.textGiven = true;
            break;
        case Key::TextFile:
            request.textFile = value;
            request.textFileGiven = true;
            break;
        case Key::Behind:
            request.behind = true;
            break;
        case Key::Terms:
            request.terms = value;
            break;
        case Key::AnyTerms:
            request.anyTerms = value;
            break;
        case Key::NoneTerms:
            request.noneTerms = value;
            break;
        case Key::Include:
            request.includes << value;
            break;
        case Key::Exclude:
            request.excludes << value;
            break;
        case Key::SaveDir:
            request.saveDir = value;
            request.saveDirGiven = true;
            break;
        case Key::InPlace:
            request.inPlace = true;
            break;
        case Key::Bom:
            request.withBom = true;
            break;
        case Key::NoUtf16:
            request.noUtf16 = true;
            break;
        case Key::DryRun:
            request.dryRun = true;
            break;
        case Key::Report:
            request.report = true;
            break;
        case Key::Null:
            request.nullSeparated = true;
            break;
        case Key::Quiet:
            request.quiet = true;
            break;
        case Key::NoJournal:
            request.noJournal = true;
            break;
        case Key::NoSync:
            request.noSync = true;
            break;
        case Key::NoWait:
            request.noWait = true;
            break;
        case Key::List:
            request.list = true;
            break;
        case Key::Run:
            request.runId = value;
            break;
        case Key::To:
            return choose(rule, value, targetChoices, request.convertTo);
        case Key::From:
            return choose(rule, value, sourceChoices, request.convertFrom);
        case Key::Eol:
            return choose(rule, value, lineEndChoices, request.lineEnds);
        case Key::Config:
            return choose(rule, value, chineseChoices, request.chineseConfig);
        case Key::ShowEncoding:
            request.showEncoding = true;
            break;
        case Key::Diff:
            request.diff = true;
            break;
        case Key::Plan:
            request.planFile = value;
            request.planGiven = true;
            break;
        case Key::Context: {
            bool number = false;
            request.context = value.toInt(&number);
            if (!number || request.context < 0)
                return fail(QCoreApplication::translate("CommandLine",
                                                        "--context needs a number of lines"));
            break;
        }
        case Key::Rules:
            request.rulesFile = value;
            request.rulesGiven = true;
            break;
        case Key::Verbose:
            request.verbose = true;
            break;
        case Key::Help:
        case Key::Version:
            break;
        }
        return true;
    }

    template <typename Value, size_t count>
    bool choose(const OptionRule &rule, const QString &text, const Choice<Value> (&choices)[count],
                Value &value)
    {
        QStringList names;
        for (const Choice<Value> &choice : choices) {
            if (text == QLatin1String(choice.name)) {
                value = choice.value;
                return true;
            }
            names << QLatin1String(choice.name);
        }
        return fail(QCoreApplication::translate("CommandLine", "%1: '%2' is none of %3")
                        .arg(Spelling(rule), text, names.join(QLatin1String(", "))));
    }

    bool given(Key key) const { return seen & (quint64(1) << static_cast<unsigned>(key)); }

    bool require(Key key)
    {
        if (given(key))
            return true;
        for (const OptionRule &rule : optionRules) {
            if (rule.key == key)
                return fail(QCoreApplication::translate("CommandLine", "%1 is missing")
                                .arg(Spelling(rule)));
        }
        return false;
    }

    bool checkCombination()
    {
        const CommandRequest &request = result.request;
        if (request.undo) {
            if (request.list && (given(Key::Run) || request.dryRun))
                return fail(QCoreApplication::translate(
                    "CommandLine", "--list cannot be combined with --run or --dry-run"));
            if (given(Key::Run) && request.runId.isEmpty())
                return fail(QCoreApplication::translate(
                    "CommandLine", "--run needs the name of a run (see --list)"));
            return true;
        }
        if (request.apply && request.saveDirGiven == request.inPlace)
            return fail(QCoreApplication::translate(
                "CommandLine", "give exactly one of --save-dir and --in-place"));
        if (request.apply)
            return true;
        if ((request.diff || request.planGiven) && (request.dryRun || request.report))
            return fail(QCoreApplication::translate(
                "CommandLine", "--diff and --plan write nothing, so they take neither "
                               "--dry-run nor --report"));
        if (request.planGiven && request.planFile.isEmpty())
            return fail(QCoreApplication::translate("CommandLine", "--plan needs a file name"));
        switch (request.operation) {
        case Operation::ReplaceText:
            if (!require(Key::Find) || !require(Key::Replace))
                return false;
            break;
        case Operation::ReplacePairs:
            if (given(Key::Rules)) {
                if (given(Key::FindFile) || given(Key::ReplaceFile))
                    return fail(QCoreApplication::translate(
                        "CommandLine",
                        "--rules and --find-file/--replace-file exclude each other"));
                break;
            }
            if (!require(Key::FindFile) || !require(Key::ReplaceFile))
                return false;
            break;
        case Operation::InsertText:
            if (request.textGiven == request.textFileGiven)
                return fail(QCoreApplication::translate(
                    "CommandLine", "give exactly one of --text and --text-file"));
            break;
        case Operation::FindText:
            if (!given(Key::AnyTerms) && !given(Key::NoneTerms) && !require(Key::Terms))
                return false;
            break;
        case Operation::ConvertEncoding:
            if (!require(Key::To))
                return false;
            break;
        case Operation::ConvertChinese:
            if (!require(Key::Config))
                return false;
            break;
        }
        QString badMask;
        if (!FileMasks().parse(request.includes, request.excludes, &badMask))
            return fail(messageBadFileMask() + badMask);
        if (request.operation != Operation::FindText && request.saveDirGiven == request.inPlace)
            return fail(QCoreApplication::translate(
                "CommandLine", "give exactly one of --save-dir and --in-place"));
        if (request.dryRun && request.report)
            return fail(QCoreApplication::translate(
                "CommandLine", "--dry-run writes nothing, so it cannot write --report"));
        return true;
    }

    const QStringList &arguments;
    ParsedCommandLine result;
    unsigned commandBit = 0;
    quint64 seen = 0;
    int index = 0;
};

} // namespace

ParsedCommandLine ParseCommandLine(const QStringList &arguments)
{
    return Parser(arguments).parse();
}
