#include "app/SystemTray.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>

SystemTray *trayIcon = nullptr;

SystemTray::SystemTray(QObject *parent)
    : QSystemTrayIcon(parent), menu(new QMenu), showAction(new QAction(this)),
      quitAction(new QAction(this))
{
    showAction->setText(tr("Settings"));
    quitAction->setText(tr("Quit"));
    menu->addAction(showAction);
    menu->addAction(quitAction);
    setContextMenu(menu);

    setIcon(QIcon(QStringLiteral(":/images/cvn.ico")));
    setToolTip(QStringLiteral("Parafold"));
    // Without a tray on the desktop the icon simply stays unseen; the window works alike.
    show();

    connect(showAction, &QAction::triggered, this, &SystemTray::ShowUi, Qt::UniqueConnection);
    connect(quitAction, &QAction::triggered, this, &SystemTray::UiQuit, Qt::UniqueConnection);
}

SystemTray::~SystemTray()
{
    delete menu;
}

void SystemTray::setQuitGuard(std::function<bool()> guard)
{
    quitGuard = std::move(guard);
}

void SystemTray::UiQuit()
{
    if (!quitGuard || quitGuard())
        QCoreApplication::quit();
}

void SystemTray::ShowUi()
{
    emit showWidget();
}
