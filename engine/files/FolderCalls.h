#pragma once

// Inside the file room: the steps FileTree and the path-based calls of FileIo share.

#include "engine/files/FileIo.h"
#include "platform/Folder.h"

#include <QByteArray>
#include <QString>

// Reads the open file whole, as ReadSourceFile describes.
FileIoResult ReadOpenFile(platform::File &file, const SourceRead &how, QByteArray &bytes,
                          FileIdentity *identity, QString *error);

// Replaces name in parent in place, as ReplaceInPlace describes.
FileIoResult ReplaceInFolder(platform::Folder &parent, const platform::NativePath &name,
                             const QByteArray &bytes, const FileIdentity &asRead,
                             const BeforeReplace &beforeReplace, QString *error,
                             bool durable = false);
