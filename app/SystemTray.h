#pragma once

#include <QSystemTrayIcon>

#include <functional>

class QAction;
class QMenu;

// The tray icon: its menu brings the window back or ends the application.
class SystemTray : public QSystemTrayIcon
{
    Q_OBJECT

public:
    explicit SystemTray(QObject *parent);
    ~SystemTray() override;

    // Asked before the quit entry ends the application; false keeps it running.
    void setQuitGuard(std::function<bool()> guard);

signals:
    void showWidget();

public slots:
    void UiQuit();
    void ShowUi();

private:
    QMenu *menu;
    QAction *showAction;
    QAction *quitAction;
    std::function<bool()> quitGuard;
};

// The one tray icon of the process, owned by the main window.
extern SystemTray *trayIcon;
