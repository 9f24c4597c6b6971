#include "app/ConfigFile.h"
#include "app/MainWindow.h"
#include "app/SystemTray.h"
#include "app/UndoControl.h"
#include "engine/journal/Undo.h"
#include "engine/report/Reports.h"
#include "engine/run/RunBatch.h"

#include <QAction>
#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTimer>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(QMessageBox::StandardButton)

namespace {

// Above 20 ms: Qt on Windows makes shorter timers multimedia timers, whose callback wine may
// still run after the timer has gone.
constexpr int pollMs = 25;

QByteArray Read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void Write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

} // namespace

class TestUndoControl : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void placedBesideHelpAndInTrayMenu();
    void journalKeyTurnsItOff_data();
    void journalKeyTurnsItOff();
    void undoAfterConfirmation_data();
    void undoAfterConfirmation();
    void filesNotRestoredAreListed();
    void resumedUndoCountsWhatIsLeft();
    void closeDuringUndoAsks_data();
    void closeDuringUndoAsks();

private:
    void makeWindow(const QByteArray &settings);

    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<MainWindow> window;
};

void TestUndoControl::init()
{
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
}

void TestUndoControl::cleanup()
{
    window.reset();
    folder.reset();
}

void TestUndoControl::makeWindow(const QByteArray &settings)
{
    const QString settingsFile = SettingsFilePath(folder->path());
    Write(settingsFile, settings);
    window = std::make_unique<MainWindow>(settingsFile);
}

void TestUndoControl::placedBesideHelpAndInTrayMenu()
{
    makeWindow(QByteArray());
    auto *help = window->findChild<QPushButton *>(QStringLiteral("pBtn_MustRead"));
    auto *undo = window->findChild<QPushButton *>(QStringLiteral("pBtn_UndoLastRun"));
    QVERIFY(help && undo);
    QCOMPARE(undo->text(), QStringLiteral("撤销上次修改"));
    int rows = 0;
    for (QBoxLayout *row : window->findChildren<QBoxLayout *>()) {
        if (row->indexOf(help) >= 0) {
            ++rows;
            QCOMPARE(row->indexOf(undo), row->indexOf(help) + 1);
        }
    }
    QCOMPARE(rows, 1);
    QCOMPARE(help->nextInFocusChain(), undo);
    const QList<QAction *> entries = ::trayIcon->contextMenu()->actions();
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries.at(1)->text(), QStringLiteral("撤销上次修改"));
    QCOMPARE(entries.last()->text(), QStringLiteral("退出程序"));
}

void TestUndoControl::journalKeyTurnsItOff_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("journal");
    QTest::newRow("no key") << QByteArray("sourcePath=D:/a/\r\n") << true;
    QTest::newRow("off") << QByteArray("journal=0\r\n") << false;
    QTest::newRow("on") << QByteArray("journal=1\r\n") << true;
}

void TestUndoControl::journalKeyTurnsItOff()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, journal);
    batchSettings.journal = !journal;
    makeWindow(settings);
    QCOMPARE(batchSettings.journal, journal);
}

void TestUndoControl::undoAfterConfirmation_data()
{
    QTest::addColumn<bool>("fromTray");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::newRow("button, yes") << false << QMessageBox::Yes;
    QTest::newRow("tray, yes") << true << QMessageBox::Yes;
    QTest::newRow("button, no") << false << QMessageBox::No;
}

void TestUndoControl::undoAfterConfirmation()
{
    QFETCH(bool, fromTray);
    QFETCH(QMessageBox::StandardButton, answer);
    makeWindow(QByteArray());
    const QString src = folder->path() + QStringLiteral("/src/");
    const QStringList names{QStringLiteral("a.txt"), QStringLiteral("sub/b.txt"),
                            QStringLiteral("c.txt")};
    for (const QString &name : names)
        Write(src + name, "小云 " + name.toUtf8());
    BatchSettings settings;
    settings.sourceDir = src;
    settings.saveInSource = true;
    settings.findText = QStringLiteral("小云");
    settings.replaceText = QStringLiteral("阿云");
    QCOMPARE(RunBatch(Operation::ReplaceText, settings, RunObserver()).changed, 3);

    window->findChild<QLineEdit *>(QStringLiteral("lEdt_SourcePath"))->setText(src);
    QString question;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        question = box->text();
        box->button(answer)->click();
    });
    auto *control = window->findChild<UndoControl *>();
    QSignalSpy finished(control, &UndoControl::undoFinished);
    if (fromTray)
        ::trayIcon->contextMenu()->actions().at(1)->trigger();
    else
        QTest::mouseClick(control->button(), Qt::LeftButton);
    QVERIFY2(question.contains(QStringLiteral("中的“查找替换”(小云→阿云),恢复3个文件。")),
             qPrintable(question));

    if (answer == QMessageBox::Yes) {
        QVERIFY(finished.wait());
        for (const QString &name : names)
            QCOMPARE(Read(src + name), "小云 " + name.toUtf8());
        QVERIFY(window->findChild<QLabel *>(QStringLiteral("lb_ShowDisposingFile"))
                    ->text()
                    .contains(QStringLiteral("恢复文件3个")));
    } else {
        QVERIFY(!finished.wait(200));
        QCOMPARE(Read(src + names.first()), QByteArray("阿云 a.txt"));
    }
}

// After a stopped undo the question counts the files still to put back, and the progress
// box's stop button is not what Enter presses.
void TestUndoControl::resumedUndoCountsWhatIsLeft()
{
    makeWindow(QByteArray());
    const QString src = folder->path() + QStringLiteral("/src/");
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        Write(src + QLatin1String(name), "小云");
    BatchSettings settings;
    settings.sourceDir = src;
    settings.saveInSource = true;
    settings.findText = QStringLiteral("小云");
    settings.replaceText = QStringLiteral("阿云");
    QCOMPARE(RunBatch(Operation::ReplaceText, settings, RunObserver()).changed, 3);
    QString message;
    std::atomic_bool stop{true};
    const std::optional<JournalRun> run = FindUndoRun(src, QString(), message);
    QVERIFY(run);
    const UndoResult first = UndoRun(src, *run, false, nullptr, &stop, [](const QString &) {});
    QCOMPARE(first.left, 3);
    stop = false;
    QCOMPARE(
        UndoRun(src, *run, false, nullptr, &stop, [&](const QString &) { stop = true; }).restored,
        1);

    window->findChild<QLineEdit *>(QStringLiteral("lEdt_SourcePath"))->setText(src);
    QString question;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        question = box->text();
        box->button(QMessageBox::Yes)->click();
    });
    auto *control = window->findChild<UndoControl *>();
    QSignalSpy finished(control, &UndoControl::undoFinished);
    QTest::mouseClick(control->button(), Qt::LeftButton);
    QVERIFY2(question.contains(QStringLiteral("恢复2个文件")), qPrintable(question));
    auto *progress = window->findChild<QProgressDialog *>();
    QVERIFY(progress);
    auto *stopButton = progress->findChild<QPushButton *>();
    QVERIFY(stopButton);
    QCOMPARE(stopButton->text(), QStringLiteral("停止"));
    QVERIFY(!stopButton->isDefault() && !stopButton->autoDefault());
    QVERIFY(finished.wait());
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        QCOMPARE(Read(src + QLatin1String(name)), QByteArray("小云"));
}

// A file edited by hand after the run stays as it is; the box and the report beside the
// other reports name it with its reason, and the window outlives the box.
void TestUndoControl::filesNotRestoredAreListed()
{
    makeWindow(QByteArray());
    const QString src = folder->path() + QStringLiteral("/src/");
    Write(src + QStringLiteral("a.txt"), "小云 a");
    Write(src + QStringLiteral("b.txt"), "小云 b");
    BatchSettings settings;
    settings.sourceDir = src;
    settings.saveInSource = true;
    settings.findText = QStringLiteral("小云");
    settings.replaceText = QStringLiteral("阿云");
    QCOMPARE(RunBatch(Operation::ReplaceText, settings, RunObserver()).changed, 2);
    Write(src + QStringLiteral("b.txt"), "edited by hand");
    const QString report = src + reportNotUndoneName;
    Write(report, "stale");

    window->findChild<QLineEdit *>(QStringLiteral("lEdt_SourcePath"))->setText(src);
    // Yes to the question; the box at the end stays up long enough for any timer left
    // behind to fire.
    QString summary;
    QString details;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box->property("seen").toBool())
            return;
        box->setProperty("seen", true);
        if (box->button(QMessageBox::Yes)) {
            box->button(QMessageBox::Yes)->click();
            return;
        }
        summary = box->text();
        details = box->detailedText();
        QTimer::singleShot(400, box, &QMessageBox::accept);
    });
    answerer.start(pollMs);
    auto *control = window->findChild<UndoControl *>();
    QSignalSpy finished(control, &UndoControl::undoFinished);
    QTest::mouseClick(control->button(), Qt::LeftButton);
    QVERIFY(finished.count() == 1 || finished.wait(20000));
    QTest::qWait(300);

    QCOMPARE(Read(src + QStringLiteral("a.txt")), QByteArray("小云 a"));
    QCOMPARE(Read(src + QStringLiteral("b.txt")), QByteArray("edited by hand"));
    const QString line = QDir::toNativeSeparators(src + QStringLiteral("b.txt")) +
                         QLatin1Char('\t') + reasonChangedSinceRun();
    QVERIFY2(summary.contains(QStringLiteral("未恢复1个")), qPrintable(summary));
    QCOMPARE(details, line);
    QCOMPARE(QTextCodec::codecForLocale()->toUnicode(Read(report)), line + QStringLiteral("\r\n"));
    QVERIFY(control->button()->isEnabled());
    QVERIFY(!control->isWorking());
}

void TestUndoControl::closeDuringUndoAsks_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("go on") << QStringLiteral("继续处理");
    QTest::newRow("stop and quit") << QStringLiteral("停止并退出");
}

// Closing the window while an undo works asks, as during a run: going on, the undo ends
// whole; stopping, it ends after the file in hand, shows its line, and the program quits.
void TestUndoControl::closeDuringUndoAsks()
{
    QFETCH(QString, answer);
    const bool goesOn = answer == QStringLiteral("继续处理");
    makeWindow(QByteArray());
    window->show();
    const QString src = folder->path() + QStringLiteral("/src/");
    const int files = 400;
    for (int i = 0; i < files; ++i)
        Write(src + QStringLiteral("d%1/%2.txt").arg(i / 100).arg(i), "小云");
    BatchSettings settings;
    settings.sourceDir = src;
    settings.saveInSource = true;
    settings.findText = QStringLiteral("小云");
    settings.replaceText = QStringLiteral("阿云");
    QCOMPARE(RunBatch(Operation::ReplaceText, settings, RunObserver()).changed, files);
    window->findChild<QLineEdit *>(QStringLiteral("lEdt_SourcePath"))->setText(src);

    QString question;
    QString summary;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box->property("seen").toBool())
            return;
        box->setProperty("seen", true);
        if (box->button(QMessageBox::Yes)) {
            // The window is closed as soon as the undo works.
            QTimer::singleShot(0, window.get(), &QWidget::close);
            box->button(QMessageBox::Yes)->click();
            return;
        }
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == answer) {
                question = box->text();
                button->click();
                return;
            }
        }
        summary = box->text();
        box->accept();
    });
    answerer.start(pollMs);
    auto *control = window->findChild<UndoControl *>();
    QTimer ended;
    connect(&ended, &QTimer::timeout, [&] {
        if (!control->isWorking() && !question.isEmpty())
            QCoreApplication::exit(2);
    });
    if (goesOn)
        ended.start(pollMs);
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    // Against a hang, not a bound on speed: under wine, with another test beside it, the
    // whole run takes longer than 20 seconds.
    timeout.start(120000);
    QTimer::singleShot(0, control->button(), &QPushButton::click);
    QCOMPARE(QCoreApplication::exec(), goesOn ? 2 : 0);

    QVERIFY2(question.startsWith(QStringLiteral("正在处理中")), qPrintable(question));
    if (goesOn)
        QVERIFY(window->isVisible());
    int restored = 0;
    for (int i = 0; i < files; ++i)
        restored += Read(src + QStringLiteral("d%1/%2.txt").arg(i / 100).arg(i)) == "小云";
    if (goesOn) {
        QCOMPARE(restored, files);
    } else {
        QVERIFY2(restored < files, "the undo was not stopped");
        QVERIFY2(summary.contains(QStringLiteral("恢复文件%1个").arg(restored)),
                 qPrintable(summary));
    }
}

QTEST_MAIN(TestUndoControl)
#include "tst_undocontrol.moc"
