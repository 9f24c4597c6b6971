#include "app/ConfigFile.h"
#include "app/MainWindow.h"
#include "app/SystemTray.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMetaMethod>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(QSystemTrayIcon::ActivationReason)

namespace {

// Above 20 ms: Qt on Windows makes shorter timers multimedia timers, whose callback wine may
// still run after the timer has gone.
constexpr int pollMs = 25;

// The text a widget shows as its own: a button's or label's text, a group box's title,
// an edit's content.
QString ShownText(const QWidget *widget)
{
    if (auto button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    if (auto label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (auto group = qobject_cast<const QGroupBox *>(widget))
        return group->title();
    if (auto line = qobject_cast<const QLineEdit *>(widget))
        return line->text();
    if (auto plain = qobject_cast<const QPlainTextEdit *>(widget))
        return plain->toPlainText();
    return QStringLiteral("<no text>");
}

// The window's working size on this screen: 940 x 500 where that fits.
QSize WorkingSize()
{
    return FittedWindowSize(QSize(940, 500),
                            QGuiApplication::primaryScreen()->availableGeometry().size());
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void widgets_data();
    void widgets();
    void windowAndForm();
    void widgetProperties();
    void signalAndSlotOrder();
    void centredTopLeft_data();
    void centredTopLeft();
    void fittedWindowSize_data();
    void fittedWindowSize();
    void geometryOnThisScreen();
    void foldersFromSettingsFile_data();
    void foldersFromSettingsFile();
    void foldersHandedOver_data();
    void foldersHandedOver();
    void progressSlots();
    void longPathKeepsWindowSize();
    void formAtWindowSizes_data();
    void formAtWindowSizes();
    void fileNameShownAsWritten();
    void keyboardAndNames();
    void trayIcon();
    void trayActivation_data();
    void trayActivation();
    void trayShowActionRestoresWindow_data();
    void trayShowActionRestoresWindow();
    void helpBox();
    // Last: it ends an event loop the way the application ends.
    void trayQuitActionEndsApplication();

private:
    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<MainWindow> window;
};

void TestMainWindow::init()
{
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
    window = std::make_unique<MainWindow>(SettingsFilePath(folder->path()));
}

void TestMainWindow::cleanup()
{
    window.reset();
    folder.reset();
}

void TestMainWindow::widgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("checked"); // -1: not checkable

    const auto row = [](const char *name, const char *className, const QString &text,
                        int checked = -1) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(className) << text
                            << checked;
    };
    row("pBtn_SourcePath", "QPushButton", QStringLiteral("选择txt文件所在文件夹"));
    row("lEdt_SourcePath", "QLineEdit", QString());
    row("cBox_UTF16", "QCheckBox", QStringLiteral("自动识别UTF-16"), 1);
    row("pBtn_MustRead", "QPushButton", QStringLiteral("使用必读"));
    row("pBtn_SavePath", "QPushButton", QStringLiteral("  选择修改后保存路径  "));
    row("lEdt_SavePath", "QLineEdit", QString());
    row("cBox_WithBom", "QCheckBox", QStringLiteral("保存字符编码带BOM"), 0);
    row("cBox_SaveInSrc", "QCheckBox", QStringLiteral("保存在原文件夹(注意备份)"), 0);
    row("gBox_Setting", "QGroupBox",
        QStringLiteral("对txt文件进行查找修改。（操作不可逆,操作前请先备份,先备份,先备份）"));
    row("groupBox_2", "QGroupBox", QStringLiteral("功能一、查找替换"));
    row("lb_FindTextExplain", "QLabel", QStringLiteral("查找内容："));
    row("lEdt_FindText", "QLineEdit", QString());
    row("lb_ReplaceExcelTextExplain", "QLabel", QStringLiteral("替换为："));
    row("lEdt_ReplaceExcelText", "QLineEdit", QString());
    row("pBtn_ReplaceExcelText", "QPushButton", QStringLiteral("全部替换"));
    row("lb_FindTextExplain_2", "QLabel", QStringLiteral("查找内容："));
    row("pTEdt_FindText", "QPlainTextEdit", QString());
    row("lb_ReplaceExcelTextExplain_2", "QLabel", QStringLiteral("替换为："));
    row("pTEdt_ReplaceExcelText", "QPlainTextEdit", QString());
    row("pBtn_ReplaceExcelText_2", "QPushButton", QStringLiteral("全部替换"));
    row("groupBox_3", "QGroupBox",
        QStringLiteral("功能二、只查找并获得文件路径列表（多条件查找用||分隔,例如需要查找既包含"
                       "\"小云\"同时也包含\"小吉\"的文本文件：小云||小吉）"));
    row("lb_FindTextExplain_3", "QLabel", QStringLiteral("查找内容："));
    row("lEdt_JustFindText", "QLineEdit", QString());
    row("pBtn_JustFindText", "QPushButton", QStringLiteral("查找"));
    row("groupBox", "QGroupBox",
        QStringLiteral("功能三、插入内容（注意开头或末尾是否需要换行） "
                       "操作不可逆,如保存在原文件夹,操作前请先备份,先备份,先备份！"));
    row("rBtn_InsertFront", "QRadioButton", QStringLiteral("文本前插入"), 1);
    row("rBtn_InsertBehind", "QRadioButton", QStringLiteral("文本后插入"), 0);
    row("label_2", "QLabel",
        QStringLiteral("<html><head/><body><p>插入</p><p>内容：</p></body></html>"));
    row("pTEdt_InsertText", "QPlainTextEdit", QString());
    row("pBtn_InsertText", "QPushButton", QStringLiteral("插入"));
    row("lb_ShowDisposingFile", "QLabel", QString());
}

void TestMainWindow::widgets()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, text);
    QFETCH(int, checked);

    const auto found = window->findChildren<QWidget *>(name);
    QCOMPARE(found.size(), 1);
    const QWidget *widget = found.first();
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(ShownText(widget), text);
    auto button = qobject_cast<const QAbstractButton *>(widget);
    if (checked < 0) {
        QVERIFY(!button || !button->isCheckable());
    } else {
        QVERIFY(button && button->isCheckable());
        QCOMPARE(button->isChecked(), checked == 1);
    }
    QVERIFY(widget->isEnabled());
}

void TestMainWindow::windowAndForm()
{
    QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Parafold3.0"));
    QVERIFY(!window->windowIcon().isNull());
    const QImage icon(QStringLiteral(":/images/cvn.ico"));
    QVERIFY(!icon.isNull());
    QVERIFY(window->windowIcon().availableSizes().contains(icon.size()));

    auto tabs = window->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QVERIFY(tabs);
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->widget(0)->objectName(), QStringLiteral("wgt_AddToTab1"));
    QCOMPARE(tabs->tabText(0), QStringLiteral("软件设置"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("编码转换"));
    // The status line goes with the tab shown, and comes back to its place in the first.
    auto status = window->findChild<QLabel *>(QStringLiteral("lb_ShowDisposingFile"));
    for (int tab : {1, 0}) {
        tabs->setCurrentIndex(tab);
        QVERIFY(tabs->widget(tab)->isAncestorOf(status));
    }
    QCOMPARE(window->centralWidget()->objectName(), QStringLiteral("centralWidget"));

    auto label = window->findChild<QLabel *>(QStringLiteral("label"));
    QVERIFY(label);
    QCOMPARE(label->textFormat(), Qt::AutoText);
    QTextDocument document;
    document.setHtml(label->text());
    QCOMPARE(document.toPlainText(),
             QStringLiteral("多个内容同时查找替换时,请换行表示,并一一对应"
                            "（如保存在原文件夹,请先备份,先备份,先备份）："));
    QVERIFY(label->text().contains(QStringLiteral("color:#ff0000;\">（如保存在原文件夹")));
}

void TestMainWindow::widgetProperties()
{
    auto source = window->findChild<QPushButton *>(QStringLiteral("pBtn_SourcePath"));
    QVERIFY(source);
    QCOMPARE(source->font().family(), QStringLiteral("Agency FB"));
    QVERIFY(source->font().bold());
    QCOMPARE(source->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
    QCOMPARE(source->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);

    QCOMPARE(window->findChild<QWidget *>(QStringLiteral("groupBox_3"))->minimumHeight(), 55);
    auto insert = window->findChild<QWidget *>(QStringLiteral("pTEdt_InsertText"));
    QCOMPARE(insert->minimumHeight(), 80);
    QCOMPARE(insert->maximumHeight(), 80);
    QCOMPARE(window->findChild<QWidget *>(QStringLiteral("lb_ShowDisposingFile"))->styleSheet(),
             QStringLiteral("color: rgb(255, 0, 0);"));

    auto front = window->findChild<QRadioButton *>(QStringLiteral("rBtn_InsertFront"));
    auto behind = window->findChild<QRadioButton *>(QStringLiteral("rBtn_InsertBehind"));
    behind->click();
    QVERIFY(behind->isChecked());
    QVERIFY(!front->isChecked());
}

void TestMainWindow::signalAndSlotOrder()
{
    const QMetaObject *meta = window->metaObject();
    QStringList methods;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
        methods << QString::fromLatin1(meta->method(i).methodSignature());
    const QStringList expected{
        QStringLiteral("pBtn_ReplaceExcelText_HasClicked()"),
        QStringLiteral("pBtn_ReplaceExcelText_2_HasClicked()"),
        QStringLiteral("pBtn_JustFindText_HasClicked()"),
        QStringLiteral("pBtn_InsertText_HasClicked()"),
        QStringLiteral("pBtn_ConvertEncoding_HasClicked()"),
        QStringLiteral("pBtn_ConvertChinese_HasClicked()"),
        QStringLiteral("ShowSoftWindow()"),
        QStringLiteral("SystemTrayActivated(QSystemTrayIcon::ActivationReason)"),
        QStringLiteral("on_pBtn_SourcePath_clicked()"),
        QStringLiteral("on_pBtn_ReplaceExcelText_clicked()"),
        QStringLiteral("on_ShowDisposingFile(QString)"),
        QStringLiteral("on_Set_pBtn_Enable()"),
        QStringLiteral("on_Set_pBtn_Disable()"),
        QStringLiteral("on_pBtn_JustFindText_clicked()"),
        QStringLiteral("on_pBtn_ReplaceExcelText_2_clicked()"),
        QStringLiteral("on_pBtn_InsertText_clicked()"),
        QStringLiteral("on_pBtn_MustRead_clicked()"),
        QStringLiteral("on_pBtn_SavePath_clicked()"),
    };
    QCOMPARE(methods, expected);
    for (int i = 0; i < 6; ++i)
        QCOMPARE(meta->method(meta->methodOffset() + i).methodType(), QMetaMethod::Signal);
}

void TestMainWindow::centredTopLeft_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QPoint>("topLeft");

    QTest::newRow("1920 x 1080") << QSize(1920, 1080) << QPoint(490, 170);
    QTest::newRow("odd sizes truncate") << QSize(1921, 1081) << QPoint(490, 170);
    QTest::newRow("1366 x 768") << QSize(1366, 768) << QPoint(213, 14);
    QTest::newRow("2560 x 1440") << QSize(2560, 1440) << QPoint(810, 350);
    QTest::newRow("just one pixel wider") << QSize(941, 741) << QPoint(0, 0);
    QTest::newRow("same size") << QSize(940, 740) << QPoint(0, 0);
    QTest::newRow("smaller screen kept in view") << QSize(800, 600) << QPoint(0, 0);
    QTest::newRow("narrow but tall") << QSize(900, 1080) << QPoint(0, 170);
}

void TestMainWindow::centredTopLeft()
{
    QFETCH(QSize, screen);
    QFETCH(QPoint, topLeft);
    QCOMPARE(CentredTopLeft(screen, QSize(940, 740)), topLeft);
}

void TestMainWindow::fittedWindowSize_data()
{
    QTest::addColumn<QSize>("available");
    QTest::addColumn<QSize>("fitted");

    QTest::newRow("1920 x 1040") << QSize(1920, 1040) << QSize(940, 500);
    QTest::newRow("1366 x 728") << QSize(1366, 728) << QSize(940, 500);
    // 1366 x 768 at 1.5 times, less a task bar.
    QTest::newRow("910 x 485") << QSize(910, 485) << QSize(894, 445);
    QTest::newRow("just enough") << QSize(956, 540) << QSize(940, 500);
    QTest::newRow("tiny") << QSize(10, 10) << QSize(1, 1);
}

void TestMainWindow::fittedWindowSize()
{
    QFETCH(QSize, available);
    QFETCH(QSize, fitted);
    QCOMPARE(FittedWindowSize(QSize(940, 500), available), fitted);
}

void TestMainWindow::geometryOnThisScreen()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize working = WorkingSize();
    const QPoint expected = window->pos();
    // Centred as far as the screen's free area lets it be, and never larger than that area.
    const QPoint centred = CentredTopLeft(screen->size(), QSize(working.width(), 740));
    QVERIFY(qAbs(expected.x() - centred.x()) <= 16);
    QVERIFY(qAbs(expected.y() - centred.y()) <= 40);
    QVERIFY(screen->availableGeometry().contains(QRect(expected, working)));
    QCOMPARE(window->size(), working);

    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(window->size(), working);
    QCOMPARE(window->pos(), expected);
    // Everything stays reachable at that height.
    auto status = window->findChild<QLabel *>(QStringLiteral("lb_ShowDisposingFile"));
    QVERIFY(status->isVisible());
    QVERIFY(status->mapTo(window.get(), QPoint(0, status->height())).y() <= 500);
    for (const QWidget *control : window->findChildren<QWidget *>()) {
        // A field's own icon buttons are sized by the field, not by the form.
        if (qobject_cast<const QLineEdit *>(control->parentWidget()))
            continue;
        if (control->isVisible() && (qobject_cast<const QAbstractButton *>(control) ||
                                     qobject_cast<const QLineEdit *>(control)))
            QVERIFY2(control->height() >= control->sizeHint().height(),
                     qPrintable(control->objectName()));
    }
    // The settings groups stand one below the other, none drawn over the next.
    const QStringList groups{QStringLiteral("wgt_Paths"), QStringLiteral("groupBox_2"),
                             QStringLiteral("groupBox_3"), QStringLiteral("groupBox")};
    for (int i = 1; i < groups.size(); ++i) {
        const QWidget *above = window->findChild<QWidget *>(groups.at(i - 1));
        const QWidget *below = window->findChild<QWidget *>(groups.at(i));
        QVERIFY2(above->geometry().bottom() < below->geometry().top(), qPrintable(groups.at(i)));
    }
}

void TestMainWindow::foldersFromSettingsFile_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("save");

    QTest::newRow("both keys") << true << QByteArray("sourcePath=D:/texts/\r\nsavePath=E:/out/\r\n")
                               << QStringLiteral("D:/texts/") << QStringLiteral("E:/out/");
    QTest::newRow("blanks and tabs not shown")
        << true << QByteArray("savePath=\t E:/out/  \r\nsourcePath=  D:/texts/\t\r\n")
        << QStringLiteral("D:/texts/") << QStringLiteral("E:/out/");
    QTest::newRow("Chinese folders")
        << true
        << ToConfigBytes(QStringLiteral("sourcePath=/home/书/小说/\r\nsavePath=/home/书/改/\r\n"))
        << QStringLiteral("/home/书/小说/") << QStringLiteral("/home/书/改/");
    QTest::newRow("one key only") << true << QByteArray("sourcePath=D:/texts/\r\n")
                                  << QStringLiteral("D:/texts/") << QString();
    QTest::newRow("no line end") << true << QByteArray("sourcePath=D:/texts/") << QString()
                                 << QString();
    QTest::newRow("empty file") << true << QByteArray() << QString() << QString();
    QTest::newRow("missing file") << false << QByteArray() << QString() << QString();
}

void TestMainWindow::foldersFromSettingsFile()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, content);
    QFETCH(QString, source);
    QFETCH(QString, save);

    QTemporaryDir settingsFolder;
    const QString path = SettingsFilePath(settingsFolder.path());
    if (exists) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    MainWindow loaded(path);
    QCOMPARE(loaded.findChild<QLineEdit *>(QStringLiteral("lEdt_SourcePath"))->text(), source);
    QCOMPARE(loaded.findChild<QLineEdit *>(QStringLiteral("lEdt_SavePath"))->text(), save);
    QCOMPARE(QFile::exists(path), exists);
}

void TestMainWindow::foldersHandedOver_data()
{
    QTest::addColumn<QString>("how");   // drop:<object name>, or argument
    QTest::addColumn<QString>("given"); // below the test folder; %1 is the test folder
    QTest::addColumn<QString>("field"); // the field that takes it
    QTest::addColumn<QString>("shown"); // what it shows, below the test folder

    const QString source = QStringLiteral("lEdt_SourcePath");
    const QString save = QStringLiteral("lEdt_SavePath");
    const QString novels = QStringLiteral("小说 集");
    const QString file = QStringLiteral("小说 集/第一章.txt");
    QTest::newRow("folder on source")
        << QStringLiteral("drop:lEdt_SourcePath") << novels << source << novels;
    QTest::newRow("file on save") << QStringLiteral("drop:lEdt_SavePath") << file << save << novels;
    QTest::newRow("folder on window")
        << QStringLiteral("drop:MainWindow") << novels << source << novels;
    QTest::newRow("argument") << QStringLiteral("argument") << novels << source << novels;
    QTest::newRow("quoted argument")
        << QStringLiteral("argument") << QStringLiteral("\"%1/小说 集\"") << source << novels;
    // Beside 书 there is "书 ": a blank at the end names the other folder.
    QTest::newRow("trailing blank kept")
        << QStringLiteral("argument") << QStringLiteral("书 ") << source << QStringLiteral("书 ");
}

void TestMainWindow::foldersHandedOver()
{
    QFETCH(QString, how);
    QFETCH(QString, given);
    QFETCH(QString, field);
    QFETCH(QString, shown);

    QVERIFY(QDir(folder->path()).mkpath(QStringLiteral("小说 集")));
    QVERIFY(QDir(folder->path()).mkpath(QStringLiteral("书")));
    QVERIFY(QDir(folder->path()).mkpath(QStringLiteral("书 ")));
    QFile txt(folder->filePath(QStringLiteral("小说 集/第一章.txt")));
    QVERIFY(txt.open(QIODevice::WriteOnly));
    txt.close();
    const QString path =
        given.contains(QLatin1String("%1")) ? given.arg(folder->path()) : folder->filePath(given);
    if (how == QLatin1String("argument")) {
        window->setSourceFolder(path);
    } else {
        const QString target = how.mid(5);
        QWidget *widget = target == window->objectName() ? static_cast<QWidget *>(window.get())
                                                         : window->findChild<QWidget *>(target);
        QVERIFY(widget);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        // The drop goes where the drag entered, as it does from a file manager.
        QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &drop);
        QVERIFY(drop.isAccepted());
    }
    QCOMPARE(QDir::fromNativeSeparators(window->findChild<QLineEdit *>(field)->text()),
             folder->filePath(shown));
}

void TestMainWindow::progressSlots()
{
    // Every function's button, undo's too; the folder pickers and the help stay.
    const QStringList switched{
        QStringLiteral("pBtn_ReplaceExcelText"), QStringLiteral("pBtn_JustFindText"),
        QStringLiteral("pBtn_ReplaceExcelText_2"), QStringLiteral("pBtn_InsertText"),
        QStringLiteral("pBtn_UndoLastRun")};
    const QStringList others{QStringLiteral("pBtn_SourcePath"), QStringLiteral("pBtn_SavePath"),
                             QStringLiteral("pBtn_MustRead")};
    const auto enabled = [&](const QString &name) {
        return window->findChild<QPushButton *>(name)->isEnabled();
    };

    QVERIFY(QMetaObject::invokeMethod(window.get(), "on_Set_pBtn_Disable"));
    for (const QString &name : switched)
        QVERIFY2(!enabled(name), qPrintable(name));
    for (const QString &name : others)
        QVERIFY2(enabled(name), qPrintable(name));
    QVERIFY(QMetaObject::invokeMethod(window.get(), "on_Set_pBtn_Enable"));
    for (const QString &name : switched + others)
        QVERIFY2(enabled(name), qPrintable(name));

    const QString text = QStringLiteral("D:\\texts\\第一章.txt");
    QVERIFY(QMetaObject::invokeMethod(window.get(), "on_ShowDisposingFile", Q_ARG(QString, text)));
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("lb_ShowDisposingFile"))->text(), text);
}

void TestMainWindow::longPathKeepsWindowSize()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QSize shown = window->size();
    auto status = window->findChild<QLabel *>(QStringLiteral("lb_ShowDisposingFile"));

    // A deep folder of long names: the label cuts it off rather than stretching the
    // window past the screen.
    const QString path = QStringLiteral("/home/用户/小说/第一卷 很长的文件夹名字/").repeated(20) +
                         QStringLiteral("第一章.txt");
    QVERIFY(QMetaObject::invokeMethod(window.get(), "on_ShowDisposingFile", Q_ARG(QString, path)));
    QCoreApplication::sendPostedEvents();
    QTest::qWait(50);
    QCOMPARE(status->text(), path);
    QCOMPARE(window->size(), shown);
    QVERIFY(window->minimumSizeHint().width() <= shown.width());
    QVERIFY(status->isVisible());
}

void TestMainWindow::formAtWindowSizes_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("as drawn") << QSize(940, 500);
    QTest::newRow("large") << QSize(1800, 1000);
    // As a 768-pixel screen at 150% leaves it.
    QTest::newRow("short") << QSize(910, 465);
}

// The insert box keeps its 80 pixels unless the form would then scroll, and gives them up
// before the form does; its group keeps its rows together however tall the window.
void TestMainWindow::formAtWindowSizes()
{
    QFETCH(QSize, size);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->resize(size);
    QTRY_COMPARE(window->size(), size);
    QCoreApplication::sendPostedEvents();
    const int scrolls = window->findChild<QScrollArea *>(QStringLiteral("scrollArea"))
                            ->verticalScrollBar()
                            ->maximum();
    const auto *box = window->findChild<QPlainTextEdit *>(QStringLiteral("pTEdt_InsertText"));
    QVERIFY(box->height() <= 80);
    QVERIFY(scrolls == 0 || box->height() < 80);
    const auto *front = window->findChild<QRadioButton *>(QStringLiteral("rBtn_InsertFront"));
    const auto *behind = window->findChild<QRadioButton *>(QStringLiteral("rBtn_InsertBehind"));
    QVERIFY2(behind->y() - front->y() <= 80, qPrintable(QString::number(behind->y() - front->y())));
}

void TestMainWindow::fileNameShownAsWritten()
{
    // Linux allows markup in folder names, and a typed source folder may be relative.
    auto status = window->findChild<QLabel *>(QStringLiteral("lb_ShowDisposingFile"));
    const QString path = QStringLiteral("<i></i><b></b>/a.txt");
    QVERIFY(QMetaObject::invokeMethod(window.get(), "on_ShowDisposingFile", Q_ARG(QString, path)));
    QVERIFY(status->sizeHint().width() >= status->fontMetrics().horizontalAdvance(path));
}

void TestMainWindow::keyboardAndNames()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    const auto field = [this](const char *name) {
        return window->findChild<QWidget *>(QString::fromLatin1(name));
    };
    QCOMPARE(QApplication::focusWidget(), field("lEdt_SourcePath"));

    // A screen reader tells every field by a name of its own.
    QStringList names;
    for (QWidget *input : window->findChildren<QWidget *>()) {
        if (!qobject_cast<QLineEdit *>(input) && !qobject_cast<QPlainTextEdit *>(input))
            continue;
        const QString name = QAccessible::queryAccessibleInterface(input)->text(QAccessible::Name);
        QVERIFY2(!name.isEmpty() && !names.contains(name), qPrintable(input->objectName()));
        names << name;
    }
    QCOMPARE(names.size(), 11);

    // Tab leaves a multi-line box without typing into it.
    auto findBox = qobject_cast<QPlainTextEdit *>(field("pTEdt_FindText"));
    findBox->setFocus();
    QTest::keyClick(findBox, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), field("pTEdt_ReplaceExcelText"));
    QCOMPARE(findBox->toPlainText(), QString());

    // Enter in a single-line field presses its function's button.
    const QList<QPair<const char *, const char *>> presses{
        {"lEdt_FindText", "pBtn_ReplaceExcelText"},
        {"lEdt_ReplaceExcelText", "pBtn_ReplaceExcelText"},
        {"lEdt_JustFindText", "pBtn_JustFindText"}};
    for (const auto &press : presses) {
        QSignalSpy clicked(qobject_cast<QPushButton *>(field(press.second)), &QPushButton::clicked);
        QTest::keyClick(field(press.first), Qt::Key_Return);
        QVERIFY2(clicked.count() == 1, press.first);
    }
    // Return and the keypad's Enter press a focused button.
    const QList<QPair<const char *, Qt::Key>> keys{{"pBtn_JustFindText", Qt::Key_Return},
                                                   {"pBtn_InsertText", Qt::Key_Enter}};
    for (const auto &press : keys) {
        auto *button = qobject_cast<QPushButton *>(field(press.first));
        QSignalSpy clicked(button, &QPushButton::clicked);
        button->setFocus();
        QTest::keyClick(button, press.second);
        QVERIFY2(clicked.count() == 1, press.first);
    }

    // Tab goes from field to field, never to a holder that does nothing with the keys.
    field("lEdt_SourcePath")->setFocus();
    for (int i = 0; i < 40; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *focused = QApplication::focusWidget();
        QVERIFY2(!qobject_cast<QAbstractScrollArea *>(focused) ||
                     qobject_cast<QPlainTextEdit *>(focused),
                 qPrintable(focused->objectName()));
        QVERIFY2(!qobject_cast<QTabBar *>(focused) ||
                     window->findChild<QTabWidget *>()->count() > 1,
                 "the tab bar of a single tab");
    }

    // The three functions by short names of their own.
    QStringList groups;
    for (const char *name : {"groupBox_2", "groupBox_3", "groupBox"})
        groups << QAccessible::queryAccessibleInterface(field(name))->text(QAccessible::Name);
    QCOMPARE(groups,
             (QStringList{QStringLiteral("功能一、查找替换"), QStringLiteral("功能二、只查找"),
                          QStringLiteral("功能三、插入内容")}));
}

void TestMainWindow::trayIcon()
{
    QVERIFY(::trayIcon);
    QCOMPARE(::trayIcon->parent(), window.get());
    QCOMPARE(::trayIcon->toolTip(), QStringLiteral("Parafold"));
    QVERIFY(!::trayIcon->icon().isNull());
    QVERIFY(::trayIcon->contextMenu());
    QStringList entries;
    for (const QAction *action : ::trayIcon->contextMenu()->actions()) {
        entries << action->text();
        QCOMPARE(action->parent(), ::trayIcon);
    }
    QCOMPARE(entries, (QStringList{QStringLiteral("软件设置"), QStringLiteral("撤销上次修改"),
                                   QStringLiteral("退出程序")}));
}

void TestMainWindow::trayActivation_data()
{
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<bool>("restores");

    QTest::newRow("single click") << QSystemTrayIcon::Trigger << true;
    QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << true;
    QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << false;
    QTest::newRow("context menu") << QSystemTrayIcon::Context << false;
    QTest::newRow("unknown") << QSystemTrayIcon::Unknown << false;
}

void TestMainWindow::trayActivation()
{
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(bool, restores);

    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->resize(700, 420);
    emit ::trayIcon->activated(reason);
    QCOMPARE(window->size(), restores ? WorkingSize() : QSize(700, 420));
}

void TestMainWindow::trayShowActionRestoresWindow_data()
{
    QTest::addColumn<Qt::WindowState>("state");
    QTest::newRow("maximised") << Qt::WindowMaximized;
    QTest::newRow("minimised") << Qt::WindowMinimized;
    QTest::newRow("resized") << Qt::WindowNoState;
}

void TestMainWindow::trayShowActionRestoresWindow()
{
    QFETCH(Qt::WindowState, state);

    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->resize(600, 300);
    window->setWindowState(state);
    QTRY_COMPARE(window->windowState(), state);

    ::trayIcon->contextMenu()->actions().at(0)->trigger();
    QTRY_COMPARE(window->windowState(), Qt::WindowNoState);
    QTRY_COMPARE(window->size(), WorkingSize());
    QVERIFY(window->isVisible());
}

void TestMainWindow::helpBox()
{
    QString title;
    QString text;
    Qt::TextFormat format = Qt::PlainText;
    QWidget *parent = window.get();
    bool modal = false;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&] {
        auto box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        format = box->textFormat();
        parent = box->parentWidget();
        modal = box->isModal();
        box->accept();
    });
    closer.start(pollMs);
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("pBtn_MustRead")),
                      Qt::LeftButton);

    QCOMPARE(title, QStringLiteral("注意"));
    QCOMPARE(text, HelpText());
    QCOMPARE(format, Qt::AutoText);
    QCOMPARE(parent, nullptr);
    QVERIFY(modal);

    // Four numbered items inside one paragraph of the fixed style.
    const QString opening = QStringLiteral("<p style='font-size:16px;line-height:20px;'>");
    const QString closing = QStringLiteral("<br></p>");
    QVERIFY(text.startsWith(opening));
    QVERIFY(text.endsWith(closing));
    const QStringList items =
        text.mid(opening.size(), text.size() - opening.size() - closing.size())
            .split(QStringLiteral("<br><br>"));
    QCOMPARE(items.size(), 4);
    for (int i = 0; i < items.size(); ++i) {
        QVERIFY2(items.at(i).startsWith(QString::number(i + 1) + QStringLiteral(". ")),
                 qPrintable(items.at(i)));
        QVERIFY(items.at(i).endsWith(QStringLiteral("。")));
    }
    QVERIFY(items.at(1).contains(QStringLiteral("请使用“以管理员身份运行“(")));
}

void TestMainWindow::trayQuitActionEndsApplication()
{
    window->showMinimized();
    QTimer::singleShot(0, [] { ::trayIcon->contextMenu()->actions().last()->trigger(); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(1); });
    QCOMPARE(QCoreApplication::exec(), 0);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
