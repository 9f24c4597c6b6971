#pragma once

#include <QString>
#include <QStringList>

enum class Operation
{
    ReplaceText,     // single find-and-replace
    ReplacePairs,    // ordered find/replace pairs
    FindText,        // find-only, all "||" terms
    InsertText,      // insert in front of or behind the text
    ConvertEncoding, // rewrite each file in another encoding, the text unchanged
    ConvertChinese,  // simplified/traditional characters through OpenCC, encoding kept
};

// The simplified/traditional conversions offered, each one of OpenCC's configurations.
enum class ChineseConfig
{
    T2s,   // traditional to simplified
    S2t,   // simplified to traditional
    S2twp, // simplified to Taiwan usage, with its phrases
    S2hk,  // simplified to Hong Kong usage
    Tw2sp, // Taiwan usage, with its phrases, to simplified
    Hk2s,  // Hong Kong usage to simplified
};
constexpr ChineseConfig chineseConfigs[] = {ChineseConfig::T2s,   ChineseConfig::S2t,
                                            ChineseConfig::S2twp, ChineseConfig::S2hk,
                                            ChineseConfig::Tw2sp, ChineseConfig::Hk2s};
// OpenCC's name for it: "t2s", "s2twp", ...
QString ChineseConfigName(ChineseConfig config);
bool ChineseConfigFromName(const QString &name, ChineseConfig &config);
// What the user is shown of it: "繁体→简体", ...
QString ChineseConfigTitle(ChineseConfig config);

// What the conversion writes.
enum class ConvertTarget
{
    Utf8,
    Utf8WithBom,
    Gbk,
    Gb18030, // GBK where the whole file fits in it, GB18030 otherwise
    Utf16LeWithBom,
};

// How the conversion reads: as every operation decides, or in an encoding the user names for
// trees the detection cannot tell. A byte-order mark decides either way.
enum class ConvertSource
{
    Detect,
    Big5,
    Gb18030,
    Gbk,
};

enum class LineEnds
{
    Keep,
    CrLf,
    Lf,
};

// The options of one run, as a launch from the window or the command line captures them;
// RunBatch reads them.
struct BatchSettings
{
    QString sourceDir;
    QString saveDir;
    bool detectUtf16 = false;
    bool withBom = false;
    bool saveInSource = false;
    bool journal = true; // keep what an in-place run replaces, so that it can be undone
    QString findText;
    QString replaceText;
    QStringList findLines;
    QStringList replaceLines;
    QString searchTerms;
    QString anyTerms;  // find: "||"-separated, at least one of which must occur
    QString noneTerms; // find: "||"-separated, none of which may occur
    QString fileMasks; // which files are taken (FileMasks); empty for "*.txt"
    QString insertText;
    bool insertAtFront = true;
    ConvertTarget convertTo = ConvertTarget::Utf8;
    ConvertSource convertFrom = ConvertSource::Detect;
    LineEnds convertLineEnds = LineEnds::Keep;
    ChineseConfig chineseConfig = ChineseConfig::T2s;
    QString reportUnreadablePath;
    QString reportMatchedPath;
    QString reportUnmatchedPath;
};

// The one process-wide record that the window's launches write.
extern BatchSettings batchSettings;

extern const QString reportUnreadableName; // "无法打开修改的文件目录(文件格式有误).txt"
extern const QString reportMatchedName;   // "包含内容并成功修改的文件目录.txt"
extern const QString reportUnmatchedName; // "不包含内容无修改的文件目录.txt"
extern const QString reportRuleHitsName; // "替换规则命中次数.txt", a pairs run's count per rule

// Cuts a multi-line box's plain text at every line feed, keeping empty parts.
QStringList SplitLines(const QString &plainText);

// Sets the three report paths inside settings.sourceDir.
void SetReportPaths(BatchSettings &settings);
