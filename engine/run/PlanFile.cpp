#include "engine/run/PlanFile.h"

#include "engine/files/FileIo.h"
#include "engine/files/FileNames.h"
#include "engine/files/FileTree.h"
#include "engine/files/SettingsFiles.h"
#include "engine/journal/RunJournal.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstring>
#include <limits>

namespace {

const QString planFormat = QStringLiteral("parafold-plan");
// Version 1 plans have no end line; they are still read.
const int planVersion = 2;
const int oldestPlanVersion = 1;
// A plan holds every changed line twice: its size is bounded, not its memory, as it is read a
// line at a time.
const qint64 largestPlan = qint64(2) << 30;

// A path under "key", or as the base64 of its bytes under "keyBase64".
void PutPath(QJsonObject &object, const QString &key, const QString &path)
{
    if (HasUndecodedBytes(path))
        object.insert(key + QStringLiteral("Base64"),
                      QString::fromLatin1(EncodeFileName(path).toBase64()));
    else
        object.insert(key, path);
}

QString TakePath(const QJsonObject &object, const QString &key)
{
    const QJsonValue bytes = object.value(key + QStringLiteral("Base64"));
    if (bytes.isString())
        return DecodeFileName(QByteArray::fromBase64(bytes.toString().toLatin1()));
    return object.value(key).toString();
}

QJsonArray Strings(const QStringList &texts)
{
    QJsonArray array;
    for (const QString &text : texts)
        array.append(text);
    return array;
}

QStringList Strings(const QJsonValue &value)
{
    QStringList texts;
    for (const QJsonValue &each : value.toArray())
        texts << each.toString();
    return texts;
}

QByteArray Line(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

bool OperationFromName(const QString &name, Operation &operation)
{
    for (const Operation each : {Operation::ReplaceText, Operation::ReplacePairs,
                                 Operation::FindText, Operation::InsertText}) {
        if (OperationName(each) == name) {
            operation = each;
            return true;
        }
    }
    return false;
}

} // namespace

QByteArray PlanHeaderLine(Operation operation, const BatchSettings &settings)
{
    QJsonObject object;
    object.insert(QStringLiteral("format"), planFormat);
    object.insert(QStringLiteral("version"), planVersion);
    object.insert(QStringLiteral("operation"), OperationName(operation));
    PutPath(object, QStringLiteral("source"), settings.sourceDir);
    object.insert(QStringLiteral("inPlace"), settings.saveInSource);
    if (!settings.saveInSource)
        PutPath(object, QStringLiteral("saveDir"), settings.saveDir);
    object.insert(QStringLiteral("detectUtf16"), settings.detectUtf16);
    object.insert(QStringLiteral("withBom"), settings.withBom);
    if (!settings.fileMasks.isEmpty())
        object.insert(QStringLiteral("fileMasks"), settings.fileMasks);
    switch (operation) {
    case Operation::ReplaceText:
        object.insert(QStringLiteral("find"), settings.findText);
        object.insert(QStringLiteral("replace"), settings.replaceText);
        break;
    case Operation::ReplacePairs:
        object.insert(QStringLiteral("findLines"), Strings(settings.findLines));
        object.insert(QStringLiteral("replaceLines"), Strings(settings.replaceLines));
        break;
    case Operation::InsertText:
        object.insert(QStringLiteral("insertText"), settings.insertText);
        object.insert(QStringLiteral("atFront"), settings.insertAtFront);
        break;
    case Operation::FindText:
        object.insert(QStringLiteral("terms"), settings.searchTerms);
        break;
    case Operation::ConvertEncoding:
    case Operation::ConvertChinese:
        break; // not planned: --plan is taken by the edits and the search only
    }
    return Line(object);
}

namespace {

// A JSON string as QJsonDocument writes it: UTF-8, with quotes, backslashes and control
// characters escaped. Written by hand: a plan holds every changed line twice, and building
// JSON objects for it costs several times what the plan itself does.
void PutUtf8(QByteArray &out, const QByteArray &bytes)
{
    out += '"';
    const char *at = bytes.constData();
    const char *const end = at + bytes.size();
    const char *plain = at;
    // Eight bytes at a time while none of them needs escaping: a byte below 20, a quote or a
    // backslash. The test may also fire behind such a byte, never without one.
    const quint64 ones = 0x0101010101010101;
    const quint64 highs = 0x8080808080808080;
    const auto zeroIn = [&](quint64 word) { return (word - ones) & ~word & highs; };
    while (end - at >= 8) {
        quint64 word;
        std::memcpy(&word, at, 8);
        if (((word - ones * 0x20) & ~word & highs) || zeroIn(word ^ (ones * '"')) ||
            zeroIn(word ^ (ones * '\\')))
            break;
        at += 8;
    }
    for (; at < end; ++at) {
        const auto byte = static_cast<unsigned char>(*at);
        if (byte >= 0x20 && byte != '"' && byte != '\\')
            continue;
        out.append(plain, int(at - plain));
        plain = at + 1;
        switch (byte) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default: {
            static const char hex[] = "0123456789abcdef";
            const char escaped[] = {'\\', 'u', '0', '0', hex[byte >> 4], hex[byte & 15]};
            out.append(escaped, 6);
        }
        }
    }
    out.append(plain, int(end - plain));
    out += '"';
}

// A hash as sixteen hex digits, quoted, then a comma.
void PutHex(QByteArray &out, quint64 hash)
{
    static const char digits[] = "0123456789abcdef";
    char text[19] = {'"'};
    for (int i = 0; i < 16; ++i)
        text[1 + i] = digits[hash >> (60 - 4 * i) & 15];
    text[17] = '"';
    text[18] = ',';
    out.append(text, 19);
}

void PutString(QByteArray &out, const QString &text)
{
    PutUtf8(out, text.toUtf8());
}

void PutKey(QByteArray &out, const char *key)
{
    out += '"';
    out += key;
    out += "\":";
}

// The path's key and value, then a comma: as PutPath, keys in QJsonDocument's order.
void PutPathMember(QByteArray &out, const QString &path)
{
    if (HasUndecodedBytes(path)) {
        PutKey(out, "pathBase64");
        out += '"' + EncodeFileName(path).toBase64() + '"';
    } else {
        PutKey(out, "path");
        PutString(out, path);
    }
    out += ',';
}

} // namespace

QByteArray PlanFileLine(const PlannedFile &file)
{
    // Keys in sorted order, as QJsonDocument writes them. Room for the texts made at once:
    // grown as they come, a plan's lines cost more in copies than in escapes.
    qsizetype room = 256 + 3 * file.relativePath.size();
    for (const PlannedChange &change : file.changes)
        room += 48 + (file.utf8Texts ? change.beforeUtf8.size() + change.afterUtf8.size()
                                     : 3 * (change.before.size() + change.after.size()));
    for (const auto &found : file.foundLines)
        room += 32 + 3 * found.second.size();
    room += room / 16; // escapes
    QByteArray out;
    out.reserve(int(std::min<qsizetype>(room, std::numeric_limits<int>::max() / 2)));
    out += '{';
    if (file.failed) {
        PutKey(out, "failed");
        PutString(out, file.failure.describe());
        out += ',';
        PutPathMember(out, file.relativePath);
        PutKey(out, "size");
        out += QByteArray::number(file.size) + "}\n";
        return out;
    }
    PutKey(out, "changes");
    out += '[';
    bool first = true;
    // A change's texts, kept as UTF-8 from the file's bytes or as text.
    const auto putText = [&](const char *key, const QByteArray &utf8, const QString &text) {
        PutKey(out, key);
        if (file.utf8Texts)
            PutUtf8(out, utf8);
        else
            PutString(out, text);
        out += ',';
    };
    for (const PlannedChange &change : file.changes) {
        out += first ? "{" : ",{";
        first = false;
        putText("after", change.afterUtf8, change.after);
        putText("before", change.beforeUtf8, change.before);
        PutKey(out, "line");
        out += QByteArray::number(change.line) + '}';
    }
    // Both in line order: each search goes on from the last one, not from the start.
    auto found = file.foundLines.begin();
    for (const int line : file.foundLineNumbers) {
        found = std::find_if(found, file.foundLines.end(),
                             [&](const auto &each) { return each.first == line; });
        out += first ? "{" : ",{";
        first = false;
        PutKey(out, "line");
        out += QByteArray::number(line) + ',';
        PutKey(out, "text");
        PutString(out, found->second);
        out += '}';
    }
    out += "],";
    PutKey(out, "encoding");
    PutString(out, EncodingName(file.encoding));
    out += ',';
    PutKey(out, "hash");
    PutHex(out, file.hash);
    PutKey(out, "matches");
    out += '[';
    for (size_t i = 0; i < file.matches.size(); ++i)
        out += (i ? "," : "") + QByteArray::number(file.matches[i]);
    out += "],";
    PutKey(out, "newHash");
    PutHex(out, file.newHash);
    PutPathMember(out, file.relativePath);
    PutKey(out, "size");
    out += QByteArray::number(file.size) + "}\n";
    return out;
}

QByteArray PlanEndLine(int files)
{
    QJsonObject object;
    object.insert(QStringLiteral("end"), planFormat);
    object.insert(QStringLiteral("files"), files);
    return Line(object);
}

bool PlanParser::fail(const QString &reason)
{
    why = reason;
    return false;
}

bool PlanParser::take(const QByteArray &line, bool ended)
{
    ++lineNumber;
    if (!ended)
        return fail(QCoreApplication::translate("PlanFile", "line %1: cut short").arg(lineNumber));
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (!document.isObject())
        return fail(
            QCoreApplication::translate("PlanFile", "line %1: not a JSON object").arg(lineNumber));
    if (this->ended)
        return fail(QCoreApplication::translate("PlanFile", "line %1: after the end of the plan")
                        .arg(lineNumber));
    const QJsonObject object = document.object();
    if (version == 0)
        return takeHeader(object);
    if (object.contains(QStringLiteral("end")))
        return takeEnd(object);
    return takeFile(object);
}

bool PlanParser::takeHeader(const QJsonObject &object)
{
    version = object.value(QStringLiteral("version")).toInt();
    if (object.value(QStringLiteral("format")).toString() != planFormat ||
        version < oldestPlanVersion || version > planVersion ||
        !OperationFromName(object.value(QStringLiteral("operation")).toString(), plan.operation))
        return fail(QCoreApplication::translate("PlanFile", "line %1: not a plan of this version")
                        .arg(lineNumber));
    // The folders and the mode are only compared with those the apply is given; the journal
    // and every other choice of safety is the apply's own, whatever the plan says.
    BatchSettings &settings = plan.settings;
    settings.sourceDir = TakePath(object, QStringLiteral("source"));
    settings.saveInSource = object.value(QStringLiteral("inPlace")).toBool();
    settings.saveDir = TakePath(object, QStringLiteral("saveDir"));
    settings.detectUtf16 = object.value(QStringLiteral("detectUtf16")).toBool();
    settings.withBom = object.value(QStringLiteral("withBom")).toBool();
    settings.fileMasks = object.value(QStringLiteral("fileMasks")).toString();
    settings.findText = object.value(QStringLiteral("find")).toString();
    settings.replaceText = object.value(QStringLiteral("replace")).toString();
    settings.findLines = Strings(object.value(QStringLiteral("findLines")));
    settings.replaceLines = Strings(object.value(QStringLiteral("replaceLines")));
    settings.insertText = object.value(QStringLiteral("insertText")).toString();
    settings.insertAtFront = object.value(QStringLiteral("atFront")).toBool(true);
    settings.searchTerms = object.value(QStringLiteral("terms")).toString();
    SetReportPaths(settings);
    return true;
}

namespace {

bool TakeHash(const QJsonObject &object, const QString &key, quint64 &hash)
{
    const QString text = object.value(key).toString();
    bool ok = false;
    hash = text.toULongLong(&ok, 16);
    return ok && text.size() == 16;
}

// The digest of the changes the line shows; false when they are not a list of changes.
bool TakeChanges(const QJsonObject &object, quint64 &hash)
{
    const QJsonValue changes = object.value(QStringLiteral("changes"));
    if (!changes.isArray())
        return false;
    ChangesHasher hasher;
    for (const QJsonValue &each : changes.toArray()) {
        const QJsonObject change = each.toObject();
        const QJsonValue line = change.value(QStringLiteral("line"));
        const QJsonValue before = change.value(QStringLiteral("before"));
        const QJsonValue after = change.value(QStringLiteral("after"));
        if (!line.isDouble() || !before.isString() || !after.isString())
            return false;
        hasher.add(line.toInt(), before.toString().toUtf8(), after.toString().toUtf8());
    }
    hash = hasher.hash();
    return true;
}

} // namespace

bool PlanParser::takeFile(const QJsonObject &object)
{
    ++files;
    const QString path = TakePath(object, QStringLiteral("path"));
    if (path.isEmpty())
        return fail(QCoreApplication::translate("PlanFile", "line %1: no path").arg(lineNumber));
    // Only a file below the source folder can be meant; any other name is a forged line.
    if (!FileTree::IsValidRelative(path))
        return fail(
            QCoreApplication::translate("PlanFile", "line %1: %2 is not a path below the folder")
                .arg(lineNumber)
                .arg(path));
    if (object.contains(QStringLiteral("failed"))) {
        ++plan.failedFiles;
        return true;
    }
    ReviewedFile file;
    if (!TakeHash(object, QStringLiteral("hash"), file.hash) ||
        !TakeHash(object, QStringLiteral("newHash"), file.newHash))
        return fail(QCoreApplication::translate("PlanFile", "line %1: no hash").arg(lineNumber));
    if (!TakeChanges(object, file.changesHash))
        return fail(QCoreApplication::translate("PlanFile", "line %1: no changes").arg(lineNumber));
    if (plan.files.contains(path))
        return fail(QCoreApplication::translate("PlanFile", "line %1: %2 is listed twice")
                        .arg(lineNumber)
                        .arg(path));
    plan.files.insert(path, file);
    return true;
}

bool PlanParser::takeEnd(const QJsonObject &object)
{
    ended = true;
    const int listed = object.value(QStringLiteral("files")).toInt(-1);
    if (object.value(QStringLiteral("end")).toString() != planFormat || listed != files)
        return fail(QCoreApplication::translate(
                        "PlanFile", "line %1: the plan ends with %2 files, but lists %3")
                        .arg(lineNumber)
                        .arg(listed)
                        .arg(files));
    return true;
}

bool PlanParser::finish()
{
    if (version == 0)
        return fail(QCoreApplication::translate("PlanFile", "empty plan"));
    if (!ended && version >= planVersion)
        return fail(
            QCoreApplication::translate("PlanFile", "cut short after line %1").arg(lineNumber));
    return true;
}

bool ParsePlan(const QByteArray &bytes, StoredPlan &plan, QString &error)
{
    PlanParser parser(plan);
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype feed = bytes.indexOf('\n', int(start));
        const qsizetype end = feed < 0 ? bytes.size() : feed;
        if (!parser.take(bytes.mid(int(start), int(end - start)), feed >= 0)) {
            error = parser.error();
            return false;
        }
        start = end + 1;
    }
    if (!parser.finish()) {
        error = parser.error();
        return false;
    }
    return true;
}

bool ReadPlanFile(const QString &path, StoredPlan &plan, QString &error)
{
    PlanParser parser(plan);
    QString readError;
    switch (ReadFileLines(
        path, largestPlan,
        [&parser](const QByteArray &line, bool ended) { return parser.take(line, ended); },
        &readError)) {
    case FileIoResult::Done:
        break;
    case FileIoResult::Refused:
        error = parser.error();
        return false;
    case FileIoResult::TooLarge:
        error = QCoreApplication::translate("PlanFile", "the plan is larger than 2 GiB");
        return false;
    default:
        error = readError;
        return false;
    }
    if (!parser.finish()) {
        error = parser.error();
        return false;
    }
    return true;
}

bool LooksLikePlan(const QString &path)
{
    // A header of many pairs is long; its format is named after them, in the keys' order.
    QByteArray start;
    if (!ReadFileStart(path, 64 << 20, start))
        return false;
    const int feed = start.indexOf('\n');
    return start.startsWith('{') &&
           start.left(feed < 0 ? start.size() : feed).contains("\"format\":\"parafold-plan\"");
}
