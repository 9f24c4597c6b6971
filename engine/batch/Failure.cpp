#include "engine/batch/Failure.h"

#include <QCoreApplication>

namespace {

// The texts are English in the code; the user sees them in the language chosen at start.
QString Translated(const char *text)
{
    return QCoreApplication::translate("Failure", text);
}

} // namespace

QString reasonUnreadable()
{
    return Translated(QT_TRANSLATE_NOOP("Failure", "cannot read the file"));
}
QString reasonNotLossless()
{
    return Translated(QT_TRANSLATE_NOOP(
        "Failure", "the file's encoding is broken; rewriting it would damage it"));
}
QString reasonNotText()
{
    return Translated(QT_TRANSLATE_NOOP("Failure", "not a text file"));
}
QString reasonUnrepresentable()
{
    return Translated(
        QT_TRANSLATE_NOOP("Failure", "the new content cannot be saved in the file's own encoding"));
}
QString reasonFolderFailed()
{
    return Translated(
        QT_TRANSLATE_NOOP("Failure", "cannot create the folder in the save location"));
}
QString reasonWriteFailed()
{
    return Translated(QT_TRANSLATE_NOOP("Failure", "cannot write the target file"));
}
QString reasonTargetIsSource()
{
    return Translated(
        QT_TRANSLATE_NOOP("Failure", "the target is the source file itself; not overwritten"));
}
QString reasonTargetIsOtherSource()
{
    return Translated(
        QT_TRANSLATE_NOOP("Failure", "the target is another source file; not overwritten"));
}
QString reasonFolderUnreadable()
{
    return Translated(
        QT_TRANSLATE_NOOP("Failure", "cannot read the folder; its files were not processed"));
}
QString reasonJournalFailed()
{
    return Translated(
        QT_TRANSLATE_NOOP("Failure", "cannot keep the original for undo; not changed"));
}
QString reasonTooLarge()
{
    return Translated(QT_TRANSLATE_NOOP("Failure", "the file is too large"));
}
QString reasonChangedDuringRun()
{
    return Translated(QT_TRANSLATE_NOOP("Failure", "the file was changed during the run"));
}
QString reasonReadOnly()
{
    return Translated(QT_TRANSLATE_NOOP("Failure", "the file is read-only"));
}
QString reasonHardLinked()
{
    return Translated(QT_TRANSLATE_NOOP("Failure", "the file has several hard links; not changed"));
}
QString reasonTargetUnrepresentable()
{
    return Translated(
        QT_TRANSLATE_NOOP("Failure", "the target encoding cannot hold the file's content"));
}
QString reasonChangedSinceReview()
{
    return Translated(QT_TRANSLATE_NOOP("Failure", "the file was changed after the preview"));
}
QString reasonDamagedUtf8()
{
    return Translated(QT_TRANSLATE_NOOP("Failure", "looks like a damaged UTF-8 file; not changed"));
}
QString reasonUncertainEncoding()
{
    return Translated(QT_TRANSLATE_NOOP("Failure", "cannot tell the file's encoding; not changed"));
}

QString reasonNewContentDiffers()
{
    return Translated(
        QT_TRANSLATE_NOOP("Failure", "the new content is not what the preview showed"));
}
QString reasonFileGone()
{
    return Translated(QT_TRANSLATE_NOOP("Failure", "the file no longer exists"));
}

QString FileFailure::reason() const
{
    switch (kind) {
    case FailureKind::Unreadable:
        return reasonUnreadable();
    case FailureKind::NotLossless:
        return reasonNotLossless();
    case FailureKind::NotText:
        return reasonNotText();
    case FailureKind::Unrepresentable:
        return reasonUnrepresentable();
    case FailureKind::FolderFailed:
        return reasonFolderFailed();
    case FailureKind::WriteFailed:
        return reasonWriteFailed();
    case FailureKind::TargetIsSource:
        return reasonTargetIsSource();
    case FailureKind::TargetIsOtherSource:
        return reasonTargetIsOtherSource();
    case FailureKind::FolderUnreadable:
        return reasonFolderUnreadable();
    case FailureKind::JournalFailed:
        return reasonJournalFailed();
    case FailureKind::TooLarge:
        return reasonTooLarge();
    case FailureKind::ChangedDuringRun:
        return reasonChangedDuringRun();
    case FailureKind::HardLinked:
        return reasonHardLinked();
    case FailureKind::TargetUnrepresentable:
        return reasonTargetUnrepresentable();
    case FailureKind::ChangedSinceReview:
        return reasonChangedSinceReview();
    case FailureKind::DamagedUtf8:
        return reasonDamagedUtf8();
    case FailureKind::NewContentDiffers:
        return reasonNewContentDiffers();
    case FailureKind::FileGone:
        return reasonFileGone();
    case FailureKind::UncertainEncoding:
        return reasonUncertainEncoding();
    case FailureKind::ReadOnly:
        break;
    }
    return reasonReadOnly();
}

QString FileFailure::describe() const
{
    if (systemReason.isEmpty())
        return reason();
    return reason() + QStringLiteral(" (") + systemReason + QLatin1Char(')');
}
