#pragma once

#include <QString>

// Why a file went to the unreadable list; handed to RunObserver::fileFailed.
extern const QString reasonUnreadable;          // "无法读取文件"
extern const QString reasonNotLossless;         // "文件编码有误,改写会损坏内容"
extern const QString reasonUnrepresentable;     // "新内容无法用文件原有编码保存"
extern const QString reasonFolderFailed;        // "无法创建保存位置的文件夹"
extern const QString reasonWriteFailed;         // "无法写入目标文件"
extern const QString reasonTargetIsSource;      // "目标是源文件本身,未覆盖"
extern const QString reasonTargetIsOtherSource; // "目标是另一个源文件,未覆盖"
