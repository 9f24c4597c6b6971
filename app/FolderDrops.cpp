#include "app/FolderDrops.h"

#include "engine/files/SettingsFiles.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>

namespace {

// The first local path among the dropped URLs; empty for text or remote URLs.
QString DroppedPath(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return QString();
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return QString();
}

} // namespace

FolderDrops::FolderDrops(QLineEdit *field, QObject *parent) : QObject(parent), field(field) {}

void FolderDrops::Fill(QWidget *target, QLineEdit *field)
{
    target->setAcceptDrops(true);
    target->installEventFilter(new FolderDrops(field, target));
}

bool FolderDrops::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (DroppedPath(drag->mimeData()).isEmpty() || !field->isEnabled())
            return QObject::eventFilter(watched, event);
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QString path = DroppedPath(drop->mimeData());
        if (path.isEmpty() || !field->isEnabled())
            return QObject::eventFilter(watched, event);
        field->setText(FolderHandedOver(path));
        field->setFocus(Qt::OtherFocusReason);
        drop->acceptProposedAction();
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
