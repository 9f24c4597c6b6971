#pragma once

#include "engine/codec/TextCodec.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextCodec>
#include <initializer_list>

// Byte helpers and a temporary folder tree for the engine tests.
namespace fixture {

// A list of texts from UTF-8 literals.
inline QStringList Names(std::initializer_list<const char *> names)
{
    QStringList list;
    for (const char *name : names)
        list += QString::fromUtf8(name);
    return list;
}

inline QByteArray Gbk(const QString &text)
{
    return QTextCodec::codecForName("GBK")->fromUnicode(text);
}

inline QByteArray Utf8(const QString &text)
{
    return text.toUtf8();
}

inline QByteArray Utf16(const QString &text, bool little, bool withBom = true)
{
    QByteArray bytes;
    if (withBom)
        bytes += little ? QByteArray("\xFF\xFE", 2) : QByteArray("\xFE\xFF", 2);
    return bytes + EncodeUtf16(text, little);
}

inline QByteArray Bom()
{
    return QByteArrayLiteral("\xEF\xBB\xBF");
}

inline bool WriteBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray ReadBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Every file below root, relative, sorted: what a tree holds after a run.
inline QStringList TreeListing(const QString &root)
{
    QStringList listing;
    QDir dir(root);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir() && !entry.isSymLink()) {
            listing += entry.fileName() + QLatin1Char('/');
            for (const QString &inner : TreeListing(entry.filePath()))
                listing += entry.fileName() + QLatin1Char('/') + inner;
        } else {
            listing += entry.fileName();
        }
    }
    listing.sort();
    return listing;
}

} // namespace fixture
