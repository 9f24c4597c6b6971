#pragma once

#include <QString>

// Why a file went to the unreadable list: a kind of the engine's own, and the system's
// words where a system call failed ("No space left on device" or "Permission denied" behind
// the same "无法写入目标文件").
enum class FailureKind
{
    Unreadable,
    NotLossless,
    NotText, // NUL bytes in a file read as UTF-8 or GBK
    Unrepresentable,
    FolderFailed,
    WriteFailed,
    TargetIsSource,
    TargetIsOtherSource,
    FolderUnreadable, // a folder of the source tree: its files are unknown
    JournalFailed,
    TooLarge,
    ChangedDuringRun,
    ReadOnly,
    HardLinked,            // in place: more names than one, which a replacement would split
    TargetUnrepresentable, // a conversion's target encoding cannot hold the text
    ChangedSinceReview,    // applying a plan: the file is not what the plan was made from
    DamagedUtf8,           // UTF-8 but for a few broken bytes: as GBK it would be garbage
    NewContentDiffers,     // applying a plan: the new bytes or lines are not the reviewed ones
    FileGone,              // applying a plan: nothing stands at the reviewed file's place
    UncertainEncoding,     // valid in two encodings, and no sure answer which one it is
};

struct FileFailure
{
    FailureKind kind = FailureKind::Unreadable;
    QString systemReason; // empty when no system call failed

    // The kind's fixed reason, in the language the program speaks (Chinese as quoted below).
    QString reason() const;
    // The reason, then the system's words in parentheses when there are any.
    QString describe() const;
};

QString reasonUnreadable();            // "无法读取文件"
QString reasonNotLossless();           // "文件编码有误,改写会损坏内容"
QString reasonNotText();               // "不是文本文件"
QString reasonUnrepresentable();       // "新内容无法用文件原有编码保存"
QString reasonFolderFailed();          // "无法创建保存位置的文件夹"
QString reasonWriteFailed();           // "无法写入目标文件"
QString reasonTargetIsSource();        // "目标是源文件本身,未覆盖"
QString reasonTargetIsOtherSource();   // "目标是另一个源文件,未覆盖"
QString reasonFolderUnreadable();      // "无法读取文件夹,其中的文件未处理"
QString reasonJournalFailed();         // "无法保存原文件以供撤销,未修改"
QString reasonTooLarge();              // "文件过大"
QString reasonChangedDuringRun();      // "文件在处理期间被修改"
QString reasonReadOnly();              // "文件只读"
QString reasonHardLinked();            // "文件有多个硬链接,未修改"
QString reasonTargetUnrepresentable(); // "目标编码无法表示该文件的内容"
QString reasonChangedSinceReview();    // "文件在预览之后被修改"
QString reasonDamagedUtf8();           // "疑似损坏的UTF-8文件,未修改"
QString reasonNewContentDiffers();     // "新内容与预览不符"
QString reasonFileGone();              // "文件已不存在"
QString reasonUncertainEncoding();     // "无法确定编码,未修改"
