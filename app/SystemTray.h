#pragma once

#include <QSystemTrayIcon>

class QAction;
class QMenu;

// The tray icon: its menu brings the window back or ends the application.
class SystemTray : public QSystemTrayIcon
{
    Q_OBJECT

public:
    explicit SystemTray(QObject *parent);
    ~SystemTray() override;

signals:
    void showWidget();

public slots:
    void UiQuit();
    void ShowUi();

private:
    QMenu *menu;
    QAction *showAction;
    QAction *quitAction;
};

// The one tray icon of the process, owned by the main window.
extern SystemTray *trayIcon;
