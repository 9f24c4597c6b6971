#include "engine/batch/Failure.h"

const QString reasonUnreadable = QStringLiteral("无法读取文件");
const QString reasonNotLossless = QStringLiteral("文件编码有误,改写会损坏内容");
const QString reasonNotText = QStringLiteral("不是文本文件");
const QString reasonUnrepresentable = QStringLiteral("新内容无法用文件原有编码保存");
const QString reasonFolderFailed = QStringLiteral("无法创建保存位置的文件夹");
const QString reasonWriteFailed = QStringLiteral("无法写入目标文件");
const QString reasonTargetIsSource = QStringLiteral("目标是源文件本身,未覆盖");
const QString reasonTargetIsOtherSource = QStringLiteral("目标是另一个源文件,未覆盖");
const QString reasonFolderUnreadable = QStringLiteral("无法读取文件夹,其中的文件未处理");
const QString reasonJournalFailed = QStringLiteral("无法保存原文件以供撤销,未修改");
const QString reasonTooLarge = QStringLiteral("文件过大");
const QString reasonChangedDuringRun = QStringLiteral("文件在处理期间被修改");
const QString reasonReadOnly = QStringLiteral("文件只读");
const QString reasonHardLinked = QStringLiteral("文件有多个硬链接,未修改");
const QString reasonTargetUnrepresentable = QStringLiteral("目标编码无法表示该文件的内容");
const QString reasonChangedSinceReview = QStringLiteral("文件在预览之后被修改");

QString FileFailure::reason() const
{
    switch (kind) {
    case FailureKind::Unreadable:
        return reasonUnreadable;
    case FailureKind::NotLossless:
        return reasonNotLossless;
    case FailureKind::NotText:
        return reasonNotText;
    case FailureKind::Unrepresentable:
        return reasonUnrepresentable;
    case FailureKind::FolderFailed:
        return reasonFolderFailed;
    case FailureKind::WriteFailed:
        return reasonWriteFailed;
    case FailureKind::TargetIsSource:
        return reasonTargetIsSource;
    case FailureKind::TargetIsOtherSource:
        return reasonTargetIsOtherSource;
    case FailureKind::FolderUnreadable:
        return reasonFolderUnreadable;
    case FailureKind::JournalFailed:
        return reasonJournalFailed;
    case FailureKind::TooLarge:
        return reasonTooLarge;
    case FailureKind::ChangedDuringRun:
        return reasonChangedDuringRun;
    case FailureKind::HardLinked:
        return reasonHardLinked;
    case FailureKind::TargetUnrepresentable:
        return reasonTargetUnrepresentable;
    case FailureKind::ChangedSinceReview:
        return reasonChangedSinceReview;
    case FailureKind::ReadOnly:
        break;
    }
    return reasonReadOnly;
}

QString FileFailure::describe() const
{
    if (systemReason.isEmpty())
        return reason();
    return reason() + QStringLiteral(" (") + systemReason + QLatin1Char(')');
}
