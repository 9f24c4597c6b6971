#include "engine/chinese/ChineseConverter.h"

#include "engine/files/FileIo.h"
#include "engine/files/Paths.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#ifdef PARAFOLD_OPENCC
#include <opencc/Config.hpp>
#include <opencc/Converter.hpp>
#include <opencc/Exception.hpp>
#endif

#include <exception>

#ifdef PARAFOLD_OPENCC

namespace {

// Where the configurations may be: beside the program (the Windows package), then where
// OpenCC installed its data.
QStringList DataFolders()
{
    QStringList folders;
    if (QCoreApplication::instance())
        folders << JoinPath(QCoreApplication::applicationDirPath(), QStringLiteral("opencc"));
#ifdef PARAFOLD_OPENCC_DATA_DIR
    folders << QString::fromUtf8(PARAFOLD_OPENCC_DATA_DIR);
#endif
    return folders;
}

// A plain file name: a configuration may name nothing outside its folder.
bool PlainName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\')) && name != QLatin1String("..") &&
           name != QLatin1String(".");
}

// Every "file" of the configuration as a full path in folder, since OpenCC looks for a
// dictionary in the current folder before the configuration's. False when one is no plain
// name.
bool WithFullPaths(QJsonValue &value, const QString &folder)
{
    if (value.isArray()) {
        QJsonArray array = value.toArray();
        for (auto it = array.begin(); it != array.end(); ++it) {
            QJsonValue each = *it;
            if (!WithFullPaths(each, folder))
                return false;
            *it = each;
        }
        value = array;
    } else if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            QJsonValue each = it.value();
            if (it.key() == QLatin1String("file")) {
                if (!PlainName(each.toString()))
                    return false;
                each = JoinPath(folder, each.toString());
            } else if (!WithFullPaths(each, folder)) {
                return false;
            }
            it.value() = each;
        }
        value = object;
    }
    return true;
}

// OpenCC takes file names in the system's narrow encoding.
std::string NarrowPath(const QString &path)
{
    const QByteArray bytes = path.toLocal8Bit();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

} // namespace

struct ChineseConverter::Loaded
{
    opencc::ConverterPtr converter;
};

std::shared_ptr<const ChineseConverter> ChineseConverter::load(const QString &config,
                                                               QString *error)
{
    const auto failed = [&](const QString &reason) {
        if (error)
            *error = reason;
        return std::shared_ptr<const ChineseConverter>();
    };
    if (!PlainName(config))
        return failed(
            QCoreApplication::translate("ChineseConverter", "no conversion %1").arg(config));
    const QStringList folders = DataFolders();
    for (const QString &folder : folders) {
        QByteArray bytes;
        if (!ReadFileBytes(JoinPath(folder, config + QStringLiteral(".json")), bytes))
            continue;
        QJsonParseError parsed{};
        const QJsonDocument document = QJsonDocument::fromJson(bytes, &parsed);
        QJsonValue root = document.object();
        if (parsed.error != QJsonParseError::NoError || !document.isObject() ||
            !WithFullPaths(root, folder))
            return failed(
                QCoreApplication::translate("ChineseConverter", "the OpenCC file %1 is damaged")
                    .arg(NativeSeparators(JoinPath(folder, config + QStringLiteral(".json")))));
        const QByteArray json = QJsonDocument(root.toObject()).toJson(QJsonDocument::Compact);
        try {
            opencc::Config loader;
            auto loaded = std::make_unique<Loaded>();
            loaded->converter = loader.NewFromString(
                std::string(json.constData(), size_t(json.size())), NarrowPath(folder) + "/");
            return std::shared_ptr<const ChineseConverter>(new ChineseConverter(std::move(loaded)));
        } catch (const opencc::Exception &exception) {
            return failed(
                QCoreApplication::translate("ChineseConverter", "OpenCC cannot load %1: %2")
                    .arg(config, QString::fromLocal8Bit(exception.what())));
        } catch (const std::exception &exception) {
            return failed(
                QCoreApplication::translate("ChineseConverter", "OpenCC cannot load %1: %2")
                    .arg(config, QString::fromLocal8Bit(exception.what())));
        }
    }
    return failed(QCoreApplication::translate("ChineseConverter",
                                              "OpenCC's dictionaries for %1 are not in %2")
                      .arg(config, NativeSeparators(folders.join(QStringLiteral(", ")))));
}

std::optional<QString> ChineseConverter::convert(const QString &text) const
{
    // OpenCC stops at the first NUL and takes UTF-8, which has no lone surrogate (Qt would
    // write "?" for it), so each stretch between them goes on its own and they stay as they are.
    QString converted;
    converted.reserve(text.size());
    const int size = text.size();
    int stretch = 0;
    const auto convertStretch = [&](int end) {
        if (end == stretch)
            return;
        const QByteArray utf8 = text.midRef(stretch, end - stretch).toUtf8();
        const std::string out =
            loaded->converter->Convert(std::string(utf8.constData(), size_t(utf8.size())));
        converted.append(QString::fromUtf8(out.data(), int(out.size())));
    };
    try {
        for (int i = 0; i < size; ++i) {
            const QChar c = text.at(i);
            if (c.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
                ++i;
                continue;
            }
            if (c.unicode() != 0 && !c.isSurrogate())
                continue;
            convertStretch(i);
            converted.append(c);
            stretch = i + 1;
        }
        convertStretch(size);
    } catch (const opencc::Exception &) {
        return std::nullopt;
    } catch (const std::exception &) {
        return std::nullopt;
    }
    return converted;
}

bool ChineseConverter::available()
{
    return true;
}

#else

struct ChineseConverter::Loaded
{
};

std::shared_ptr<const ChineseConverter> ChineseConverter::load(const QString &, QString *error)
{
    if (error)
        *error = QCoreApplication::translate("ChineseConverter",
                                             "this build has no simplified/traditional conversion");
    return nullptr;
}

std::optional<QString> ChineseConverter::convert(const QString &) const
{
    return std::nullopt;
}

bool ChineseConverter::available()
{
    return false;
}

#endif

ChineseConverter::ChineseConverter(std::unique_ptr<Loaded> loaded) : loaded(std::move(loaded)) {}

ChineseConverter::~ChineseConverter() = default;
