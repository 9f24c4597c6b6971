#include "MainWindow.h"

#include "ConfigFile.h"
#include "SystemTray.h"
#include "ui_mainwindow.h"

#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QScreen>

MainWindow::MainWindow(const QString &settingsFilePath, QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), workerThread(nullptr), worker(nullptr),
      settingsFilePath(settingsFilePath)
{
    ui->setupUi(this);

    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->size() : QSize(0, 0);
    screenWidth = screenSize.width();
    screenHeight = screenSize.height();
    windowHeight = height();
    windowWidth = width();
    move(CentredTopLeft(screenSize, QSize(windowWidth, windowHeight)));

    setWindowTitle(QStringLiteral("Parafold") + QStringLiteral("3.0"));
    setWindowIcon(QIcon(QStringLiteral(":/images/cvn.ico")));

    trayIcon = new SystemTray(this);
    connect(trayIcon, &SystemTray::showWidget, this, &MainWindow::ShowSoftWindow);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::SystemTrayActivated);

    // Centred for the form's full height, then shown shorter; the form scrolls.
    windowHeight = 500;
    resize(windowWidth, windowHeight);

    LoadFolders();
}

MainWindow::~MainWindow()
{
    if (trayIcon && trayIcon->parent() == this)
        trayIcon = nullptr;
    delete ui;
}

void MainWindow::showEvent(QShowEvent *event)
{
    // A group's fixed minimum height must not squeeze its rows where the fonts are taller
    // than the form was drawn for; below that the form scrolls. The fonts are known once
    // the window has its screen and style.
    for (QGroupBox *group : findChildren<QGroupBox *>()) {
        if (group->minimumHeight() > 0)
            group->setMinimumHeight(
                qMax(group->minimumHeight(), group->minimumSizeHint().height()));
    }
    QMainWindow::showEvent(event);
}

void MainWindow::LoadFolders()
{
    QByteArray content;
    ReadConfigFile(content, settingsFilePath);
    ui->lEdt_SourcePath->setText(FromConfigBytes(GetConfigValue(content, "sourcePath")));
    ui->lEdt_SavePath->setText(FromConfigBytes(GetConfigValue(content, "savePath")));
}

void MainWindow::ShowSoftWindow()
{
    showNormal();
    resize(windowWidth, windowHeight);
    raise();
    activateWindow();
}

void MainWindow::SystemTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
        ShowSoftWindow();
}

// The folder pickers and the four launches come with the worker thread.
void MainWindow::on_pBtn_SourcePath_clicked() {}

void MainWindow::on_pBtn_ReplaceExcelText_clicked() {}

void MainWindow::on_ShowDisposingFile(QString filePath)
{
    ui->lb_ShowDisposingFile->setText(filePath);
}

void MainWindow::on_Set_pBtn_Enable()
{
    ui->pBtn_ReplaceExcelText->setEnabled(true);
    ui->pBtn_JustFindText->setEnabled(true);
    ui->pBtn_ReplaceExcelText_2->setEnabled(true);
}

void MainWindow::on_Set_pBtn_Disable()
{
    ui->pBtn_ReplaceExcelText->setEnabled(false);
    ui->pBtn_JustFindText->setEnabled(false);
    ui->pBtn_ReplaceExcelText_2->setEnabled(false);
}

void MainWindow::on_pBtn_JustFindText_clicked() {}

void MainWindow::on_pBtn_ReplaceExcelText_2_clicked() {}

void MainWindow::on_pBtn_InsertText_clicked() {}

void MainWindow::on_pBtn_MustRead_clicked()
{
    QMessageBox::about(nullptr, QStringLiteral("注意"), HelpText());
}

void MainWindow::on_pBtn_SavePath_clicked() {}

QPoint CentredTopLeft(const QSize &screen, const QSize &window)
{
    // A negative corner would put the title bar out of reach.
    return QPoint(qMax(0, (screen.width() - window.width()) / 2),
                  qMax(0, (screen.height() - window.height()) / 2));
}

QString SettingsFilePath(const QString &applicationFolder)
{
    return QDir(applicationFolder).filePath(QStringLiteral("Parafold.cvn"));
}

QString HelpText()
{
    const QString separator = QStringLiteral("<br><br>");
    return QStringLiteral("<p style='font-size:16px;line-height:20px;'>") +
           QStringLiteral(
               "1. 本软件无需安装，解压后运行即可，但请勿解压到需要管理员权限的系统文件夹，"
               "否则无法保存设置。") +
           separator +
           QStringLiteral(
               "2. 如有需管理员权限的设置，请使用“以管理员身份运行“(鼠标指向软件exe文件点"
               "击右键即可选择)，否则无法保存设置。") +
           separator + QStringLiteral("3. 软件请在微软Windows7或以上系统运行，不支持xp系统。") +
           separator +
           QStringLiteral(
               "4. 软件需要对电脑文件进行修改操作，如果360等软件询问是否允许，请选择总是运"
               "行，并勾选不再询问。") +
           QStringLiteral("<br></p>");
}
