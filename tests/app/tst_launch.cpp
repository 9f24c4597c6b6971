#include "app/ConfigFile.h"
#include "app/MainWindow.h"
#include "app/ResultsDialog.h"
#include "app/SystemTray.h"
#include "app/TerminationSignals.h"
#include "app/UndoControl.h"
#include "engine/batch/BatchSettings.h"
#include "engine/journal/TreeLock.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMutex>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QSemaphore>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif

namespace {

// Above 20 ms: Qt on Windows makes shorter timers multimedia timers, whose callback wine may
// still run after the timer has gone.
constexpr int pollMs = 25;

using Tree = QMap<QString, QByteArray>; // relative path with "/" -> bytes

const QString reportName = QStringLiteral("包含内容并成功修改的文件目录.txt");
const QStringList reportNames{QStringLiteral("无法打开修改的文件目录(文件格式有误).txt"),
                              reportName, QStringLiteral("不包含内容无修改的文件目录.txt")};
const QString busyText = QStringLiteral("正在处理中,请等待当前操作完成!");
const QString emptyFindMessage = QStringLiteral("查找内容不能为空!");
const QString emptyInsertMessage = QStringLiteral("插入内容不能为空!");

QByteArray Utf8(const char *text)
{
    return QByteArray(text);
}

QByteArray Gbk(const char *utf8Text)
{
    return QTextCodec::codecForName("GBK")->fromUnicode(QString::fromUtf8(utf8Text));
}

void WriteTree(const QString &folder, const Tree &tree)
{
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        const QString path = QDir(folder).filePath(it.key());
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(it.value()), qint64(it.value().size()));
    }
}

Tree ReadTree(const QString &folder)
{
    Tree tree;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(folder).relativeFilePath(path);
        // The undo journal of in-place runs has tests of its own.
        if (relative.startsWith(QLatin1String(".parafold-journal/")))
            continue;
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            tree.insert(relative, file.readAll());
    }
    return tree;
}

QByteArray ReadBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A report's bytes: one native path a line, CR LF, in the system's 8-bit code page.
QByteArray ReportBytes(const QStringList &paths)
{
    QString text;
    for (const QString &path : paths)
        text += QDir::toNativeSeparators(path) + QStringLiteral("\r\n");
    return QTextCodec::codecForLocale()->fromUnicode(text);
}

bool SameSettings(const BatchSettings &a, const BatchSettings &b)
{
    return a.sourceDir == b.sourceDir && a.saveDir == b.saveDir && a.detectUtf16 == b.detectUtf16 &&
           a.withBom == b.withBom && a.saveInSource == b.saveInSource && a.findText == b.findText &&
           a.replaceText == b.replaceText && a.findLines == b.findLines &&
           a.replaceLines == b.replaceLines && a.searchTerms == b.searchTerms &&
           a.insertText == b.insertText && a.insertAtFront == b.insertAtFront &&
           a.reportUnreadablePath == b.reportUnreadablePath &&
           a.reportMatchedPath == b.reportMatchedPath &&
           a.reportUnmatchedPath == b.reportUnmatchedPath;
}

// What a modal box showed; the box is closed as soon as it is up.
struct SeenBox
{
    bool shown = false;
    QString title;
    QString text;
    QWidget *parent = nullptr;
    QString labelMeanwhile;
};

// The source tree of the end-to-end runs: UTF-8, GBK, upper-case suffix, a non-text file.
Tree SourceTree()
{
    return {{QStringLiteral("a.txt"), Utf8("小云和小吉\n")},
            {QStringLiteral("c.TXT"), Utf8("没有关系")},
            {QStringLiteral("d.md"), Utf8("小云")},
            {QStringLiteral("子/b.txt"), Gbk("小云在山上。")}};
}

// Enough files that a run is still working when the test steps in, each the old text
// until an insert puts newText() in front.
constexpr int manyFiles = 1500;
const QByteArray oldText = QByteArray("旧的内容").repeated(100);

QByteArray NewText()
{
    return Utf8("新的开头\r\n") + oldText;
}

Tree ManyFiles()
{
    Tree tree;
    for (int i = 0; i < manyFiles; ++i)
        tree.insert(QStringLiteral("卷%1/%2.txt").arg(i / 100).arg(i), oldText);
    return tree;
}

} // namespace

Q_DECLARE_METATYPE(Tree)

class TestLaunch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void folderPicker_data();
    void folderPicker();
    void operationEndToEnd_data();
    void operationEndToEnd();
    void folderChecks_data();
    void folderChecks();
    void saveFolderNotNeeded_data();
    void saveFolderNotNeeded();
    void countMismatch_data();
    void countMismatch();
    void launchWhileRunWorks_data();
    void launchWhileRunWorks();
    void busyBoxClosesWithRun();
    void treeHeldElsewhere_data();
    void treeHeldElsewhere();
    void endWhileRunWorks_data();
    void endWhileRunWorks();
    void progressAndStop_data();
    void progressAndStop();
    void launchKeepsFormInPlace();
    void reportWithoutViewerIsNamed();
    void failuresShownWithoutTheirReport();
    void previewMarksReadOnlyFiles();
    void previewWritesOnlyCheckedFiles_data();
    void previewWritesOnlyCheckedFiles();
    void ruleTablePickedAndRun_data();
    void ruleTablePickedAndRun();

private:
    template <class T> T *widget(const char *name) const
    {
        T *found = window->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no widget %s", name);
        return found;
    }
    QString label() const { return widget<QLabel>("lb_ShowDisposingFile")->text(); }
    void click(const QString &button);
    SeenBox clickExpectingBox(const QString &button);
    void waitForRunEnd();
    QString source() const { return root->filePath(QStringLiteral("源")) + QLatin1Char('/'); }
    QString save() const { return root->filePath(QStringLiteral("存")) + QLatin1Char('/'); }
    QString settingsPath() const { return root->filePath(QStringLiteral("Parafold.cvn")); }
    QByteArray stored(const char *key) const
    {
        QByteArray content;
        ReadConfigFile(content, settingsPath());
        return GetConfigValue(content, key);
    }
    void writeStaleReports(const QString &folder);
    int staleReportsLeft(const QString &folder) const;
    // The source files that hold the new text, checking that every file is whole, and the
    // report, which must name exactly those.
    QStringList renewedFiles(const Tree &tree);

    std::unique_ptr<QTemporaryDir> root;
    std::unique_ptr<MainWindow> window;
    QMutex openedMutex;
    QStringList opened;
    bool reportNotOpened = false; // the opener finds no viewer
    // The report opener waits here when a test holds a run after its files.
    QSemaphore openerEntered;
    QSemaphore openerProceed;
    // Says yes to the question before an insert in place, and keeps what it asked.
    QTimer insertAnswerer;
    QStringList insertQuestions;
    // The last line of the report that renewedFiles read, when the run was stopped.
    QString stoppedNote;
};

void TestLaunch::init()
{
    root = std::make_unique<QTemporaryDir>();
    QVERIFY(root->isValid());
    QVERIFY(QDir().mkpath(source()));
    QVERIFY(QDir().mkpath(save()));
    QFile settings(settingsPath());
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("sourcePath=old/\r\nsavePath=oldsave/\r\n");
    settings.close();

    batchSettings = BatchSettings();
    opened.clear();
    reportNotOpened = false;
    openerEntered.acquire(openerEntered.available());
    openerProceed.acquire(openerProceed.available());
    openerProceed.release(1000); // runs pass the opener unless a test holds them

    window = std::make_unique<MainWindow>(settingsPath());
    window->setReportOpener([this](const QString &path, const std::function<void()> &notOpened) {
        if (reportNotOpened)
            notOpened();
        {
            QMutexLocker lock(&openedMutex);
            opened << path;
        }
        openerEntered.release();
        // A launch that wrongly waits for a held run fails instead of hanging.
        openerProceed.tryAcquire(1, 20000);
    });
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    insertQuestions.clear();
    insertAnswerer.disconnect();
    connect(&insertAnswerer, &QTimer::timeout, [this] {
        auto box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box && box->windowTitle() == QStringLiteral("插入")) {
            insertQuestions << box->text();
            box->button(QMessageBox::Yes)->click();
        }
    });
    insertAnswerer.start(pollMs);
}

void TestLaunch::cleanup()
{
    openerProceed.release(1000);
    window.reset();
    root.reset();
}

void TestLaunch::click(const QString &button)
{
    QPushButton *target = window->findChild<QPushButton *>(button);
    QVERIFY2(target, qPrintable(button));
    QTest::mouseClick(target, Qt::LeftButton);
}

SeenBox TestLaunch::clickExpectingBox(const QString &button)
{
    SeenBox seen;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&] {
        auto box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen.shown = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.parent = box->parentWidget();
        seen.labelMeanwhile = label();
        box->accept();
    });
    closer.start(pollMs);
    click(button);
    return seen;
}

void TestLaunch::waitForRunEnd()
{
    QTRY_VERIFY_WITH_TIMEOUT(!window->isRunWorking(), 20000);
}

void TestLaunch::writeStaleReports(const QString &folder)
{
    Tree stale;
    for (const QString &name : reportNames)
        stale.insert(name, "stale");
    WriteTree(folder, stale);
}

int TestLaunch::staleReportsLeft(const QString &folder) const
{
    int left = 0;
    for (const QString &name : reportNames)
        left += ReadBytes(QDir(folder).filePath(name)) == "stale" ? 1 : 0;
    return left;
}

void TestLaunch::folderPicker_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("accept");

    QTest::newRow("source chosen") << "pBtn_SourcePath"
                                   << "lEdt_SourcePath" << true;
    QTest::newRow("save chosen") << "pBtn_SavePath"
                                 << "lEdt_SavePath" << true;
    QTest::newRow("source cancelled") << "pBtn_SourcePath"
                                      << "lEdt_SourcePath" << false;
    QTest::newRow("save cancelled") << "pBtn_SavePath"
                                    << "lEdt_SavePath" << false;
}

void TestLaunch::folderPicker()
{
    QFETCH(QString, button);
    QFETCH(QString, field);
    QFETCH(bool, accept);

    QLineEdit *edit = window->findChild<QLineEdit *>(field);
    edit->setText(QStringLiteral("before/"));
    const QString chosen = root->filePath(QStringLiteral("选中"));
    QVERIFY(QDir().mkpath(chosen));

    QString caption;
    QString startFolder;
    bool dirsOnly = false;
    bool keepsLinks = false;
    QTimer driver;
    connect(&driver, &QTimer::timeout, [&] {
        auto dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        caption = dialog->windowTitle();
        startFolder = dialog->directory().absolutePath();
        dirsOnly = dialog->testOption(QFileDialog::ShowDirsOnly);
        keepsLinks = dialog->testOption(QFileDialog::DontResolveSymlinks);
        if (accept) {
            dialog->setDirectory(chosen);
            QMetaObject::invokeMethod(dialog, "accept");
        } else {
            dialog->reject();
        }
    });
    driver.start(pollMs);
    click(button);

    QCOMPARE(caption, QStringLiteral("选择文件夹"));
    QCOMPARE(startFolder, QDir::currentPath());
    QVERIFY(dirsOnly);
    QVERIFY(keepsLinks);
    QCOMPARE(edit->text(), accept ? chosen + QLatin1Char('/') : QStringLiteral("before/"));
    // Nothing is stored until a launch.
    QCOMPARE(stored("sourcePath"), QByteArray("old/"));
    QCOMPARE(stored("savePath"), QByteArray("oldsave/"));
}

void TestLaunch::operationEndToEnd_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("findText");    // single, or the pairs' find box
    QTest::addColumn<QString>("replaceText"); // single, or the pairs' replace box
    QTest::addColumn<QString>("searchTerms"); // find-only
    QTest::addColumn<QString>("insertText");  // insert
    QTest::addColumn<bool>("insertFront");
    QTest::addColumn<bool>("saveInSource");
    QTest::addColumn<bool>("withBom");
    QTest::addColumn<Tree>("written");         // relative to the folder written to
    QTest::addColumn<QStringList>("reported"); // relative to the source folder
    QTest::addColumn<QString>("statistics");   // up to the seconds
    QTest::addColumn<bool>("storesSave");

    QTest::newRow("single into the save folder")
        << "pBtn_ReplaceExcelText"
        << "小云"
        << "小明" << QString() << QString() << true << false << false
        << Tree{{QStringLiteral("a.txt"), Utf8("小明和小吉\r\n")},
                {QStringLiteral("子/b.txt"), Gbk("小明在山上。")}}
        << QStringList{QStringLiteral("a.txt"), QStringLiteral("子/b.txt")}
        << "扫描文件4个,查找符合类型文件3个,修改文件2个," << true;
    QTest::newRow("pairs into the save folder, with BOM")
        << "pBtn_ReplaceExcelText_2"
        << "小云\n小吉"
        << "大云\n大吉" << QString() << QString() << true << false << true
        << Tree{{QStringLiteral("a.txt"), Utf8("\xEF\xBB\xBF大云和大吉\r\n")},
                {QStringLiteral("子/b.txt"), Gbk("大云在山上。")}}
        << QStringList{QStringLiteral("a.txt"), QStringLiteral("子/b.txt")}
        << "扫描文件4个,查找符合类型文件3个,修改文件2个," << true;
    // Both boxes show the same two lines; the line feed after the last one does not count.
    QTest::newRow("pairs, one box ends with a line feed")
        << "pBtn_ReplaceExcelText_2"
        << "小云\n小吉\n"
        << "大云\n大吉" << QString() << QString() << true << false << false
        << Tree{{QStringLiteral("a.txt"), Utf8("大云和大吉\r\n")},
                {QStringLiteral("子/b.txt"), Gbk("大云在山上。")}}
        << QStringList{QStringLiteral("a.txt"), QStringLiteral("子/b.txt")}
        << "扫描文件4个,查找符合类型文件3个,修改文件2个," << true;
    QTest::newRow("find-only") << "pBtn_JustFindText" << QString() << QString() << "小云||小吉"
                               << QString() << true << false << false << Tree()
                               << QStringList{QStringLiteral("a.txt")}
                               << "扫描文件4个,查找符合类型文件3个,包含查找内容文件1个,修改文件0个,"
                               << false;
    // An input method's full-width bars; blanks around the bars are searched, and said so.
    QTest::newRow("find-only, full-width bars")
        << "pBtn_JustFindText" << QString() << QString() << "小云｜｜小吉" << QString() << true
        << false << false << Tree() << QStringList{QStringLiteral("a.txt")}
        << "扫描文件4个,查找符合类型文件3个,包含查找内容文件1个,修改文件0个," << false;
    QTest::newRow("find-only, blanks around the bars")
        << "pBtn_JustFindText" << QString() << QString() << "小云 || 小吉" << QString() << true
        << false << false << Tree() << QStringList()
        << "扫描文件4个,查找符合类型文件3个,包含查找内容文件0个,修改文件0个," << false;
    QTest::newRow("insert in front, in place")
        << "pBtn_InsertText" << QString() << QString() << QString() << "序言\n"
        << true << true << false
        << Tree{{QStringLiteral("a.txt"), Utf8("序言\r\n小云和小吉\r\n")},
                {QStringLiteral("c.TXT"), Utf8("序言\r\n没有关系")},
                {QStringLiteral("子/b.txt"), Gbk("序言\r\n小云在山上。")}}
        << QStringList{QStringLiteral("a.txt"), QStringLiteral("c.TXT"), QStringLiteral("子/b.txt")}
        << "扫描文件4个,查找符合类型文件3个,修改文件3个," << true;
    QTest::newRow("insert behind, into the save folder")
        << "pBtn_InsertText" << QString() << QString() << QString() << "完" << false << false
        << false
        << Tree{{QStringLiteral("a.txt"), Utf8("小云和小吉\r\n完")},
                {QStringLiteral("c.TXT"), Utf8("没有关系完")},
                {QStringLiteral("子/b.txt"), Gbk("小云在山上。完")}}
        << QStringList{QStringLiteral("a.txt"), QStringLiteral("c.TXT"), QStringLiteral("子/b.txt")}
        << "扫描文件4个,查找符合类型文件3个,修改文件3个," << true;
    QTest::newRow("convert to utf-8 from the second tab")
        << "pBtn_ConvertEncoding" << QString() << QString() << QString() << QString() << true
        << false << false << Tree{{QStringLiteral("子/b.txt"), Utf8("小云在山上。")}}
        << QStringList{QStringLiteral("子/b.txt")}
        << "扫描文件4个,查找符合类型文件3个,修改文件1个,已是目标编码2个,按编码读取GBK 1个、UTF-8 "
           "2个,"
        << true;
}

void TestLaunch::operationEndToEnd()
{
    QFETCH(QString, button);
    QFETCH(QString, findText);
    QFETCH(QString, replaceText);
    QFETCH(QString, searchTerms);
    QFETCH(QString, insertText);
    QFETCH(bool, insertFront);
    QFETCH(bool, saveInSource);
    QFETCH(bool, withBom);
    QFETCH(Tree, written);
    QFETCH(QStringList, reported);
    QFETCH(QString, statistics);
    QFETCH(bool, storesSave);

    WriteTree(source(), SourceTree());
    writeStaleReports(source());
    widget<QLineEdit>("lEdt_SourcePath")->setText(source());
    widget<QLineEdit>("lEdt_SavePath")->setText(save());
    widget<QLineEdit>("lEdt_FindText")->setText(findText);
    widget<QLineEdit>("lEdt_ReplaceExcelText")->setText(replaceText);
    widget<QPlainTextEdit>("pTEdt_FindText")->setPlainText(findText);
    widget<QPlainTextEdit>("pTEdt_ReplaceExcelText")->setPlainText(replaceText);
    widget<QLineEdit>("lEdt_JustFindText")->setText(searchTerms);
    widget<QPlainTextEdit>("pTEdt_InsertText")->setPlainText(insertText);
    widget<QRadioButton>(insertFront ? "rBtn_InsertFront" : "rBtn_InsertBehind")->setChecked(true);
    widget<QCheckBox>("cBox_SaveInSrc")->setChecked(saveInSource);
    widget<QCheckBox>("cBox_WithBom")->setChecked(withBom);
    widget<QLabel>("lb_ShowDisposingFile")->setText(QStringLiteral("上次的消息"));
    if (button == QLatin1String("pBtn_ConvertEncoding"))
        widget<QTabWidget>("tabWidget")->setCurrentIndex(1);

    click(button);
    // A launch keeps the previous label only for the pairs.
    QCOMPARE(label(), button == QLatin1String("pBtn_ReplaceExcelText_2")
                          ? QStringLiteral("上次的消息")
                          : QString());
    QVERIFY(window->isRunWorking());
    QVERIFY(!widget<QPushButton>("pBtn_InsertText")->isEnabled());
    waitForRunEnd();

    const QRegularExpression line(QRegularExpression::escape(statistics) +
                                  QStringLiteral("耗时[01]秒。"));
    QVERIFY2(line.match(label()).hasMatch(), qPrintable(label()));
    QCOMPARE(label().contains(QStringLiteral("开头或末尾有空格")),
             searchTerms.contains(QLatin1Char(' ')));
    // Both pairs rows replace 小云 twice and 小吉 once.
    QCOMPARE(label().contains(QStringLiteral("\n各组替换次数:第1组2次,第2组1次")),
             button == QLatin1String("pBtn_ReplaceExcelText_2"));
    for (const char *name : {"pBtn_ReplaceExcelText", "pBtn_JustFindText",
                             "pBtn_ReplaceExcelText_2", "pBtn_InsertText", "pBtn_ConvertEncoding"})
        QVERIFY2(widget<QPushButton>(name)->isEnabled(), name);

    // Every file of both folders: the edits where they belong, nothing else touched.
    Tree expectedSource = SourceTree();
    Tree expectedSave;
    for (auto it = written.cbegin(); it != written.cend(); ++it)
        (saveInSource ? expectedSource : expectedSave).insert(it.key(), it.value());
    QStringList reportedPaths;
    for (const QString &relative : reported)
        reportedPaths << source() + relative;
    // A list with nothing to list is not written.
    if (!reported.isEmpty())
        expectedSource.insert(reportName, ReportBytes(reportedPaths));
    // Each rule's hits in a report of their own, the found list kept one path a line.
    if (button == QLatin1String("pBtn_ReplaceExcelText_2"))
        expectedSource.insert(reportRuleHitsName, ReportBytes({QStringLiteral("2\t小云 → 大云"),
                                                               QStringLiteral("1\t小吉 → 大吉")}));
    QCOMPARE(ReadTree(source()), expectedSource);
    QCOMPARE(ReadTree(save()), expectedSave);

    QCOMPARE(opened, reported.isEmpty() ? QStringList() : QStringList{source() + reportName});
    // An insert in place, and only that, asks first, naming the folder.
    QCOMPARE(insertQuestions.size(), button == QLatin1String("pBtn_InsertText") && saveInSource);
    if (!insertQuestions.isEmpty())
        QVERIFY(insertQuestions.first().contains(QDir::toNativeSeparators(source())));
    QCOMPARE(stored("sourcePath"), ToConfigBytes(source()));
    QCOMPARE(stored("savePath"), storesSave ? ToConfigBytes(save()) : QByteArray("oldsave/"));
}

void TestLaunch::folderChecks_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("sourceField");
    QTest::addColumn<QString>("saveField");
    QTest::addColumn<QString>("findText");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("reportsDeleted");

    const QString sourceMissing = QStringLiteral("源文件夹不存在,请选择正确路径!");
    const QString folderMissing = QStringLiteral("文件夹不存在,请选择正确路径!");
    const QString saveMissing = QStringLiteral(
        "保存文件夹不存在,请选择正确路径!如需直接修改原文件,请勾选“保存在原文件夹(注意备份)”。");
    const QString sameFolder =
        QStringLiteral("保存文件夹不能与源文件夹相同,如需覆盖原文件请勾选保存在原文件夹!");
    const QString emptyFind = QStringLiteral("查找内容不能为空!");
    const QString emptyInsert = QStringLiteral("插入内容不能为空!");
    const QString inside = QStringLiteral("保存文件夹不能位于源文件夹之内!");
    // Field values: "source", "save", "missing", "", "source without slash" or "inside" (a
    // folder of the source tree, reached through a link).
    const auto row = [](const char *name, const char *button, const char *sourceField,
                        const char *saveField, const char *findText, const QString &message,
                        bool reportsDeleted) {
        QTest::newRow(name) << QString::fromLatin1(button) << QString::fromLatin1(sourceField)
                            << QString::fromLatin1(saveField) << QString::fromUtf8(findText)
                            << message << reportsDeleted;
    };
    row("single: source missing", "pBtn_ReplaceExcelText", "missing", "save", "小云", sourceMissing,
        false);
    row("single: source empty", "pBtn_ReplaceExcelText", "", "save", "小云", sourceMissing, false);
    row("single: both missing", "pBtn_ReplaceExcelText", "missing", "missing", "小云",
        sourceMissing, false);
    row("single: save missing", "pBtn_ReplaceExcelText", "source", "missing", "小云", saveMissing,
        true);
    row("single: save empty", "pBtn_ReplaceExcelText", "source", "", "小云", saveMissing, true);
    row("single: empty find text", "pBtn_ReplaceExcelText", "source", "save", "", emptyFind, false);
    row("single: empty find text, source missing", "pBtn_ReplaceExcelText", "missing", "save", "",
        sourceMissing, false);
    row("single: empty find text, same folder", "pBtn_ReplaceExcelText", "source", "source", "",
        emptyFind, false);
    row("single: same folder", "pBtn_ReplaceExcelText", "source", "source", "小云", sameFolder,
        true);
    row("single: same folder without slash", "pBtn_ReplaceExcelText", "source",
        "source without slash", "小云", sameFolder, true);
    row("pairs: save missing", "pBtn_ReplaceExcelText_2", "source", "missing", "小云", saveMissing,
        true);
    row("pairs: both missing", "pBtn_ReplaceExcelText_2", "missing", "missing", "小云", saveMissing,
        false);
    row("pairs: source missing", "pBtn_ReplaceExcelText_2", "missing", "save", "小云",
        folderMissing, false);
    row("pairs: same folder", "pBtn_ReplaceExcelText_2", "source", "source", "小云", sameFolder,
        true);
    row("find-only: source missing", "pBtn_JustFindText", "missing", "save", "小云", folderMissing,
        false);
    row("find-only: source empty", "pBtn_JustFindText", "", "save", "小云", folderMissing, false);
    row("find-only: empty terms", "pBtn_JustFindText", "source", "save", "", emptyFind, false);
    row("find-only: empty terms, source missing", "pBtn_JustFindText", "missing", "save", "",
        folderMissing, false);
    row("pairs: empty find box", "pBtn_ReplaceExcelText_2", "source", "save", "", emptyFind, false);
    row("pairs: source empty", "pBtn_ReplaceExcelText_2", "", "save", "小云", folderMissing, false);
    row("insert: source empty", "pBtn_InsertText", "", "save", "小云", folderMissing, false);
    row("insert: source missing", "pBtn_InsertText", "missing", "save", "小云", folderMissing,
        false);
    row("insert: both missing", "pBtn_InsertText", "missing", "missing", "小云", folderMissing,
        false);
    row("insert: save missing", "pBtn_InsertText", "source", "missing", "小云", saveMissing, true);
    row("insert: same folder", "pBtn_InsertText", "source", "source", "小云", sameFolder, true);
    row("insert: empty text", "pBtn_InsertText", "source", "save", "", emptyInsert, false);
    row("insert: empty text, save missing", "pBtn_InsertText", "source", "missing", "", saveMissing,
        false);
#ifndef Q_OS_WIN
    // Given through a link, which QFile::link does not make on Windows (it makes .lnk files).
    row("single: save inside source", "pBtn_ReplaceExcelText", "source", "inside", "小云", inside,
        true);
    row("pairs: save inside source", "pBtn_ReplaceExcelText_2", "source", "inside", "小云", inside,
        true);
    row("insert: save inside source", "pBtn_InsertText", "source", "inside", "小云", inside, true);
#endif
}

void TestLaunch::folderChecks()
{
    QFETCH(QString, button);
    QFETCH(QString, sourceField);
    QFETCH(QString, saveField);
    QFETCH(QString, findText);
    QFETCH(QString, message);
    QFETCH(bool, reportsDeleted);

    const auto folderText = [this](const QString &field) {
        if (field == QLatin1String("source"))
            return source();
        if (field == QLatin1String("source without slash"))
            return source().chopped(1);
        if (field == QLatin1String("save"))
            return save();
        if (field == QLatin1String("missing"))
            return root->filePath(QStringLiteral("不存在")) + QLatin1Char('/');
        if (field == QLatin1String("inside"))
            return root->filePath(QStringLiteral("链接/子")) + QLatin1Char('/');
        return QString();
    };
#ifndef Q_OS_WIN
    QVERIFY(
        QFile::link(root->filePath(QStringLiteral("源")), root->filePath(QStringLiteral("链接"))));
#endif
    WriteTree(source(), SourceTree());
    writeStaleReports(source());
    // Reports lying in the folder the program runs from belong to no launch here.
    const QString started = root->filePath(QStringLiteral("启动"));
    QVERIFY(QDir().mkpath(started));
    writeStaleReports(started);
    const QString previousCurrent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(started));
    const auto restoreCurrent =
        qScopeGuard([previousCurrent] { QDir::setCurrent(previousCurrent); });
    const Tree before = ReadTree(root->path());
    widget<QLineEdit>("lEdt_SourcePath")->setText(folderText(sourceField));
    widget<QLineEdit>("lEdt_SavePath")->setText(folderText(saveField));
    widget<QLineEdit>("lEdt_FindText")->setText(findText);
    widget<QPlainTextEdit>("pTEdt_FindText")->setPlainText(findText);
    widget<QPlainTextEdit>("pTEdt_ReplaceExcelText")->setPlainText(QStringLiteral("大云"));
    widget<QLineEdit>("lEdt_JustFindText")->setText(findText);
    widget<QPlainTextEdit>("pTEdt_InsertText")->setPlainText(findText);

    click(button);

    QCOMPARE(label(), message);
    // The refusal is seen as new, and the keyboard is where the fault is.
    QVERIFY(widget<QLabel>("lb_ShowDisposingFile")
                ->styleSheet()
                .contains(QStringLiteral("background")));
    QString atFault = message.startsWith(QStringLiteral("保存"))
                          ? QStringLiteral("lEdt_SavePath")
                          : QStringLiteral("lEdt_SourcePath");
    if (message == emptyFindMessage)
        atFault =
            QHash<QString, QString>{
                {QStringLiteral("pBtn_ReplaceExcelText"), QStringLiteral("lEdt_FindText")},
                {QStringLiteral("pBtn_ReplaceExcelText_2"), QStringLiteral("pTEdt_FindText")},
                {QStringLiteral("pBtn_JustFindText"), QStringLiteral("lEdt_JustFindText")}}
                .value(button);
    else if (message == emptyInsertMessage)
        atFault = QStringLiteral("pTEdt_InsertText");
    QCOMPARE(window->focusWidget() ? window->focusWidget()->objectName() : QString(), atFault);
    QVERIFY(!window->isRunWorking());
    QVERIFY(widget<QPushButton>("pBtn_ReplaceExcelText")->isEnabled());
    // The launch's fields are captured even when it is refused.
    QCOMPARE(batchSettings.sourceDir, folderText(sourceField));
    // Only the stale reports may have gone; nothing stored, nothing written.
    Tree after = before;
    if (reportsDeleted) {
        for (const QString &name : reportNames)
            after.remove(QStringLiteral("源/") + name);
    }
    QCOMPARE(ReadTree(root->path()), after);
    QVERIFY(opened.isEmpty());
}

void TestLaunch::saveFolderNotNeeded_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("saveField");
    QTest::addColumn<bool>("saveInSource");

    QTest::newRow("single, in place, save empty") << "pBtn_ReplaceExcelText"
                                                  << "" << true;
    QTest::newRow("pairs, in place, save missing") << "pBtn_ReplaceExcelText_2"
                                                   << "missing" << true;
    QTest::newRow("insert, in place, save is source") << "pBtn_InsertText"
                                                      << "source" << true;
    QTest::newRow("find-only, save missing") << "pBtn_JustFindText"
                                             << "missing" << false;
    QTest::newRow("find-only, save is source") << "pBtn_JustFindText"
                                               << "source" << false;
}

void TestLaunch::saveFolderNotNeeded()
{
    QFETCH(QString, button);
    QFETCH(QString, saveField);
    QFETCH(bool, saveInSource);

    WriteTree(source(), SourceTree());
    widget<QLineEdit>("lEdt_SourcePath")->setText(source());
    widget<QLineEdit>("lEdt_SavePath")
        ->setText(saveField == QLatin1String("source")    ? source()
                  : saveField == QLatin1String("missing") ? root->filePath(QStringLiteral("无"))
                                                          : QString());
    widget<QCheckBox>("cBox_SaveInSrc")->setChecked(saveInSource);
    widget<QLineEdit>("lEdt_FindText")->setText(QStringLiteral("小云"));
    widget<QPlainTextEdit>("pTEdt_FindText")->setPlainText(QStringLiteral("小云"));
    widget<QPlainTextEdit>("pTEdt_ReplaceExcelText")->setPlainText(QStringLiteral("大云"));
    widget<QLineEdit>("lEdt_JustFindText")->setText(QStringLiteral("小云"));
    widget<QPlainTextEdit>("pTEdt_InsertText")->setPlainText(QStringLiteral("序"));

    click(button);
    QVERIFY(window->isRunWorking());
    waitForRunEnd();
    QVERIFY2(label().startsWith(QStringLiteral("扫描文件4个,")), qPrintable(label()));
    QCOMPARE(opened, QStringList{source() + reportName});
    // An insert in place, and only that, asks first, naming the folder.
    QCOMPARE(insertQuestions.size(), button == QLatin1String("pBtn_InsertText") && saveInSource);
    if (!insertQuestions.isEmpty())
        QVERIFY(insertQuestions.first().contains(QDir::toNativeSeparators(source())));
    QCOMPARE(stored("sourcePath"), ToConfigBytes(source()));
}

void TestLaunch::countMismatch_data()
{
    QTest::addColumn<QString>("findBox");
    QTest::addColumn<QString>("replaceBox");
    QTest::addColumn<QStringList>("findLines");
    QTest::addColumn<int>("replaceLines");

    const QStringList three{QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙")};
    QTest::newRow("three against two") << "甲\n乙\n丙"
                                       << "一\n二" << three << 2;
    QTest::newRow("trailing empty lines do not count") << "甲\n乙\n丙\n\n"
                                                       << "一\n二\n"
                                                       << three << 2;
    QTest::newRow("an empty line inside counts")
        << "甲\n\n乙"
        << "一\n二" << QStringList{QStringLiteral("甲"), QString(), QStringLiteral("乙")} << 2;
    QTest::newRow("empty replacement box")
        << "甲\n乙"
        << "" << QStringList{QStringLiteral("甲"), QStringLiteral("乙")} << 1;
}

void TestLaunch::countMismatch()
{
    QFETCH(QString, findBox);
    QFETCH(QString, replaceBox);
    QFETCH(QStringList, findLines);
    QFETCH(int, replaceLines);

    WriteTree(source(), SourceTree());
    writeStaleReports(source());
    const Tree before = ReadTree(root->path());
    widget<QLineEdit>("lEdt_SourcePath")->setText(source());
    widget<QLineEdit>("lEdt_SavePath")->setText(save());
    widget<QCheckBox>("cBox_WithBom")->setChecked(true);
    widget<QCheckBox>("cBox_SaveInSrc")->setChecked(true);
    widget<QPlainTextEdit>("pTEdt_FindText")->setPlainText(findBox);
    widget<QPlainTextEdit>("pTEdt_ReplaceExcelText")->setPlainText(replaceBox);
    widget<QLabel>("lb_ShowDisposingFile")->setText(QStringLiteral("上次的消息"));
    batchSettings.saveDir = QStringLiteral("earlier/");

    const SeenBox box = clickExpectingBox(QStringLiteral("pBtn_ReplaceExcelText_2"));

    QVERIFY(box.shown);
    QCOMPARE(box.title, QStringLiteral("注意："));
    QCOMPARE(box.text, QStringLiteral("查找数和替换数不一致,请核对!\n查找内容%1行,替换内容%2行。")
                           .arg(findLines.size())
                           .arg(replaceLines));
    QCOMPARE(box.parent, window.get());
    QVERIFY(!window->isRunWorking());
    QCOMPARE(label(), QStringLiteral("上次的消息"));
    QCOMPARE(ReadTree(root->path()), before);
    // Captured up to the comparison, not beyond it.
    QCOMPARE(batchSettings.sourceDir, source());
    QCOMPARE(batchSettings.findLines, findLines);
    QCOMPARE(batchSettings.saveDir, QStringLiteral("earlier/"));
    QVERIFY(!batchSettings.withBom);
    QVERIFY(!batchSettings.saveInSource);
}

// Undo asked for during a run is refused with a notice that goes once the run has ended.
void TestLaunch::busyBoxClosesWithRun()
{
    WriteTree(source(), SourceTree());
    widget<QLineEdit>("lEdt_SourcePath")->setText(source());
    widget<QCheckBox>("cBox_SaveInSrc")->setChecked(true);
    widget<QLineEdit>("lEdt_FindText")->setText(QStringLiteral("小云"));
    widget<QLineEdit>("lEdt_ReplaceExcelText")->setText(QStringLiteral("小明"));
    click(QStringLiteral("pBtn_ReplaceExcelText"));
    waitForRunEnd();
    openerProceed.acquire(openerProceed.available());
    widget<QLineEdit>("lEdt_JustFindText")->setText(QStringLiteral("小明"));
    click(QStringLiteral("pBtn_JustFindText"));
    QTRY_VERIFY_WITH_TIMEOUT(openerEntered.available() > 0, 20000);

    QStringList shown;
    bool closedByTest = false;
    int ticks = 0;
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, [&] {
        auto box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (shown.isEmpty() || shown.constLast() != box->text()) {
            shown << box->text();
            if (box->button(QMessageBox::Yes))
                box->button(QMessageBox::Yes)->click(); // the undo's question
            else
                openerProceed.release(1000); // the run ends while the notice is up
        } else if (++ticks > 400) {
            closedByTest = true; // ten seconds: it would never have gone by itself
            box->accept();
        }
    });
    watcher.start(25);
    // The tray's entry: the window's button waits, disabled, for the run's end.
    QAction *undo = nullptr;
    for (QAction *action : window->findChildren<QAction *>()) {
        if (action->text() == undoButtonText())
            undo = action;
    }
    QVERIFY(undo);
    undo->trigger();
    watcher.stop();

    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown.constLast(), busyText);
    QVERIFY(!closedByTest);
    QVERIFY(!window->isRunWorking());
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(ReadBytes(source() + QStringLiteral("a.txt")), Utf8("小明和小吉\r\n"));
}

void TestLaunch::treeHeldElsewhere_data()
{
    QTest::addColumn<QString>("held");
    QTest::addColumn<bool>("runs");
    QTest::newRow("the source, by another process") << "source" << false;
    QTest::newRow("another tree") << "other" << true;
    QTest::newRow("lock place squatted by a link") << "squatted" << false;
}

// The window takes the source tree's lock as the command line does: while another holds it,
// the run waits for nothing and writes nothing; a lock on another tree keeps nothing back.
void TestLaunch::treeHeldElsewhere()
{
    QFETCH(QString, held);
    QFETCH(bool, runs);
#ifdef Q_OS_WIN
    if (held == QLatin1String("squatted"))
        QSKIP("a symbolic link needs a privilege on Windows");
#endif
    WriteTree(source(), {{QStringLiteral("a.txt"), Utf8("小云\r\n")}});
    TreeLock lock;
    if (held == QLatin1String("source"))
        QCOMPARE(lock.take(source(), false, nullptr), TreeLock::Result::Held);
    if (held == QLatin1String("other"))
        QCOMPARE(lock.take(save(), false, nullptr), TreeLock::Result::Held);
    if (held == QLatin1String("squatted"))
        QVERIFY(QFile::link(save(), source() + QStringLiteral(".parafold-journal")));
    widget<QLineEdit>("lEdt_SourcePath")->setText(source());
    widget<QCheckBox>("cBox_SaveInSrc")->setChecked(true);
    widget<QLineEdit>("lEdt_FindText")->setText(QStringLiteral("小云"));
    widget<QLineEdit>("lEdt_ReplaceExcelText")->setText(QStringLiteral("小明"));
    const SeenBox seen = clickExpectingBox(QStringLiteral("pBtn_ReplaceExcelText"));
    waitForRunEnd();
    QCOMPARE(ReadBytes(source() + QStringLiteral("a.txt")),
             runs ? Utf8("小明\r\n") : Utf8("小云\r\n"));
    QCOMPARE(seen.shown && seen.text == busyText, held == QLatin1String("source"));
    if (held == QLatin1String("squatted"))
        QVERIFY2(label().contains(QStringLiteral(".parafold-journal")), qPrintable(label()));
}

void TestLaunch::launchWhileRunWorks_data()
{
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("atOnce"); // before the first run's files, else while it reports

    QTest::newRow("insert at once") << "pBtn_InsertText" << true;
    QTest::newRow("single while reporting") << "pBtn_ReplaceExcelText" << false;
    QTest::newRow("pairs while reporting") << "pBtn_ReplaceExcelText_2" << false;
    QTest::newRow("find-only while reporting") << "pBtn_JustFindText" << false;
    QTest::newRow("insert while reporting") << "pBtn_InsertText" << false;
}

void TestLaunch::launchWhileRunWorks()
{
    QFETCH(QString, second);
    QFETCH(bool, atOnce);

    // The first run stops in its report opener until the test lets it go.
    openerProceed.acquire(openerProceed.available());
    WriteTree(source(), SourceTree());
    widget<QLineEdit>("lEdt_SourcePath")->setText(source());
    widget<QLineEdit>("lEdt_SavePath")->setText(save());
    widget<QLineEdit>("lEdt_FindText")->setText(QStringLiteral("小云"));
    widget<QLineEdit>("lEdt_ReplaceExcelText")->setText(QStringLiteral("小明"));
    click(QStringLiteral("pBtn_ReplaceExcelText"));
    QVERIFY(window->isRunWorking());
    if (atOnce) {
        QVERIFY(!widget<QPushButton>("pBtn_ReplaceExcelText")->isEnabled());
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(openerEntered.available() > 0, 20000);
        // The run has shown its statistics but still works: the buttons wait for its end.
        QTRY_VERIFY(label().startsWith(QStringLiteral("扫描文件")));
        QTest::qWait(50);
        QVERIFY(!widget<QPushButton>("pBtn_ReplaceExcelText")->isEnabled());
        QVERIFY(window->isRunWorking());
    }

    // A second launch with other folders and texts.
    const QString other = root->filePath(QStringLiteral("乙")) + QLatin1Char('/');
    const Tree otherTree{{QStringLiteral("b.txt"), Utf8("乙")}};
    WriteTree(other, otherTree);
    writeStaleReports(other);
    widget<QLineEdit>("lEdt_SourcePath")->setText(other);
    widget<QLineEdit>("lEdt_SavePath")->setText(QString());
    widget<QCheckBox>("cBox_SaveInSrc")->setChecked(true);
    widget<QCheckBox>("cBox_WithBom")->setChecked(true);
    widget<QLineEdit>("lEdt_FindText")->setText(QStringLiteral("乙"));
    widget<QLineEdit>("lEdt_ReplaceExcelText")->setText(QStringLiteral("丙"));
    widget<QPlainTextEdit>("pTEdt_FindText")->setPlainText(QStringLiteral("乙"));
    widget<QPlainTextEdit>("pTEdt_ReplaceExcelText")->setPlainText(QStringLiteral("丙"));
    widget<QLineEdit>("lEdt_JustFindText")->setText(QStringLiteral("乙"));
    widget<QPlainTextEdit>("pTEdt_InsertText")->setPlainText(QStringLiteral("丁"));
    const BatchSettings settingsBefore = batchSettings;
    const QByteArray settingsFileBefore = ReadBytes(settingsPath());
    const QString labelBefore = label();

    // The click meets a disabled button: dropped without a word, nothing asked.
    const SeenBox box = clickExpectingBox(second);
    QTest::qWait(100);

    QVERIFY(!box.shown);
    QVERIFY(insertQuestions.isEmpty());
    if (!atOnce) {
        QVERIFY2(labelBefore.startsWith(QStringLiteral("扫描文件4个,")), qPrintable(labelBefore));
        QCOMPARE(label(), labelBefore);
    }
    QVERIFY(SameSettings(batchSettings, settingsBefore));
    QCOMPARE(ReadBytes(settingsPath()), settingsFileBefore);
    QCOMPARE(staleReportsLeft(other), reportNames.size());
    QCOMPARE(ReadBytes(other + QStringLiteral("b.txt")), QByteArray("乙"));
    QVERIFY(window->isRunWorking());

    // The first run, undisturbed, ends as it would have.
    openerProceed.release(1000);
    waitForRunEnd();
    QCOMPARE(ReadBytes(save() + QStringLiteral("a.txt")), Utf8("小明和小吉\r\n"));
    QVERIFY2(label().startsWith(QStringLiteral("扫描文件4个,查找符合类型文件3个,修改文件2个,")),
             qPrintable(label()));

    // Now the same launch starts.
    click(second);
    QVERIFY(window->isRunWorking());
    waitForRunEnd();
    QVERIFY2(label().startsWith(QStringLiteral("扫描文件1个,")), qPrintable(label()));
    QCOMPARE(stored("sourcePath"), ToConfigBytes(other));
    QCOMPARE(staleReportsLeft(other), 0);
}

void TestLaunch::endWhileRunWorks_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("answer"); // the button pressed in the question, if one comes
    QTest::newRow("window destroyed") << "destroy" << QString();
    QTest::newRow("window closed, stop") << "close" << QStringLiteral("停止并退出");
    QTest::newRow("window closed, continue") << "close" << QStringLiteral("继续处理");
    QTest::newRow("tray quit, stop") << "tray" << QStringLiteral("停止并退出");
    QTest::newRow("tray quit, continue") << "tray" << QStringLiteral("继续处理");
#ifdef Q_OS_UNIX
    // Windows has no signal to end a program with; it closes the window, as above.
    QTest::newRow("SIGTERM") << "sigterm" << QString();
#endif
}

void TestLaunch::endWhileRunWorks()
{
    QFETCH(QString, how);
    QFETCH(QString, answer);
    const bool goesOn = answer == QStringLiteral("继续处理");

    const Tree tree = ManyFiles();
    WriteTree(source(), tree);

    widget<QLineEdit>("lEdt_SourcePath")->setText(source());
    widget<QCheckBox>("cBox_SaveInSrc")->setChecked(true);
    widget<QPlainTextEdit>("pTEdt_InsertText")->setPlainText(QStringLiteral("新的开头\n"));
    TerminationSignals termination;
    connect(&termination, &TerminationSignals::terminationRequested, qApp, &QCoreApplication::quit);

    // Answers the question as soon as it is up.
    QString question;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, [&] {
        auto box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box->windowTitle() == QStringLiteral("插入"))
            return;
        question = box->windowTitle() + box->text();
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == answer)
                button->click();
        }
    });
    answerer.start(pollMs);

    click(QStringLiteral("pBtn_InsertText"));
    QTRY_VERIFY(label().endsWith(QLatin1String(".txt")));
    if (how == QLatin1String("close")) {
        QTimer::singleShot(0, window.get(), &QWidget::close);
    } else if (how == QLatin1String("tray")) {
        QTimer::singleShot(0, [] { ::trayIcon->contextMenu()->actions().last()->trigger(); });
    }
#ifdef Q_OS_UNIX
    if (how == QLatin1String("sigterm"))
        QTimer::singleShot(0, [] { ::kill(::getpid(), SIGTERM); });
#endif
    if (how != QLatin1String("destroy")) {
        // Going on, the run ends by itself and the application stays.
        QTimer runEnd;
        connect(&runEnd, &QTimer::timeout, [&] {
            if (!question.isEmpty() && !window->isRunWorking())
                QCoreApplication::exit(2);
        });
        if (goesOn)
            runEnd.start(pollMs);
        QTimer timeout;
        timeout.setSingleShot(true);
        connect(&timeout, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        // Against a hang, not a bound on speed: under wine or a sanitizer, with another test
        // beside it, the whole run takes longer than 20 seconds.
        timeout.start(120000);
        QCOMPARE(QCoreApplication::exec(), goesOn ? 2 : 0);
        if (goesOn)
            QVERIFY(window->isVisible());
    }
    QCOMPARE(question.isEmpty(), answer.isEmpty());
    if (!answer.isEmpty())
        QVERIFY2(question.startsWith(QStringLiteral("注意：正在处理中")), qPrintable(question));
    window.reset();

    // The report was written before the window went.
    const QStringList renewed = renewedFiles(tree);
    QVERIFY(!renewed.isEmpty());
    if (goesOn) {
        QCOMPARE(renewed.size(), manyFiles);
    } else {
        // Asked to stop, the run ended after the file in hand instead of finishing the tree.
        QVERIFY2(renewed.size() < manyFiles, "the run was not stopped");
    }
    QCOMPARE(opened, QStringList{source() + reportName});
    qInfo("%d of %d files renewed before the end", int(renewed.size()), manyFiles);
}

QStringList TestLaunch::renewedFiles(const Tree &tree)
{
    QStringList renewed;
    const Tree after = ReadTree(source());
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        const QByteArray bytes = after.value(it.key());
        if (bytes != oldText && bytes != NewText())
            qWarning("%s is neither old nor new", qPrintable(it.key()));
        if (bytes == NewText())
            renewed << QDir::toNativeSeparators(source() + it.key());
    }
    if (after.size() != tree.size() + 1)
        qWarning("%d files where %d were expected", int(after.size()), int(tree.size() + 1));
    QStringList listed = QTextCodec::codecForLocale()
                             ->toUnicode(after.value(reportName))
                             .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    // A stopped run says so in its last line.
    stoppedNote.clear();
    if (!listed.isEmpty() && listed.last().startsWith(QStringLiteral("(已停止")))
        stoppedNote = listed.takeLast();
    listed.sort();
    renewed.sort();
    if (listed != renewed)
        return {QStringLiteral("the report does not list the renewed files")};
    return renewed;
}

void TestLaunch::progressAndStop_data()
{
    QTest::addColumn<bool>("byEscape");
    QTest::newRow("stop button") << false;
    QTest::newRow("Esc") << true;
}

void TestLaunch::progressAndStop()
{
    QFETCH(bool, byEscape);
    const Tree tree = ManyFiles();
    WriteTree(source(), tree);
    widget<QLineEdit>("lEdt_SourcePath")->setText(source());
    widget<QCheckBox>("cBox_SaveInSrc")->setChecked(true);
    widget<QPlainTextEdit>("pTEdt_InsertText")->setPlainText(QStringLiteral("新的开头\n"));
    auto bar = widget<QProgressBar>("pBar_RunProgress");
    auto stop = widget<QPushButton>("pBtn_Stop");
    QVERIFY(!bar->isVisible());
    QVERIFY(!stop->isVisible());

    // A narrow window: the file's path does not fit beside the bar.
    window->resize(480, window->height());
    click(QStringLiteral("pBtn_InsertText"));
    QVERIFY(bar->isVisible());
    QVERIFY(stop->isVisible());
    // Once the scan has counted the files, the bar runs from 0 to their number.
    QTRY_VERIFY_WITH_TIMEOUT(bar->maximum() == manyFiles && bar->value() > 0, 20000);
    QVERIFY(label().endsWith(QLatin1String(".txt")));
    auto line = widget<QLabel>("lb_ShowDisposingFile");
    QVERIFY2(line->fontMetrics().horizontalAdvance(label()) <= line->contentsRect().width(),
             qPrintable(label()));
    QVERIFY(line->toolTip().startsWith(QDir::toNativeSeparators(source())));
    if (byEscape) {
        // A key of the window's own: it works while the window is the active one.
        window->show();
        QApplication::setActiveWindow(window.get());
        QTest::keyClick(window.get(), Qt::Key_Escape);
    } else {
        QTest::mouseClick(stop, Qt::LeftButton);
    }
    const int shownWhenStopped = bar->value();
    waitForRunEnd();

    QVERIFY(!bar->isVisible());
    QVERIFY(!stop->isVisible());
    // Ended after the file in hand: the files done are whole, listed and counted.
    const QStringList renewed = renewedFiles(tree);
    QVERIFY(!renewed.isEmpty());
    QVERIFY2(renewed.size() < manyFiles, "the run was not stopped");
    QVERIFY(renewed.size() >= shownWhenStopped);
    QVERIFY2(label().startsWith(QStringLiteral("扫描文件")) &&
                 label().contains(QStringLiteral(",修改文件%1个,").arg(renewed.size())) &&
                 label().endsWith(QStringLiteral("(已停止)")),
             qPrintable(label()));
    QCOMPARE(stoppedNote,
             QStringLiteral("(已停止:另有%1个文件未处理)").arg(manyFiles - renewed.size()));
    QCOMPARE(opened, QStringList{source() + reportName});
}

void TestLaunch::launchKeepsFormInPlace()
{
    WriteTree(source(), SourceTree());
    widget<QLineEdit>("lEdt_SourcePath")->setText(source());
    widget<QLineEdit>("lEdt_JustFindText")->setText(QStringLiteral("小云"));
    // Short enough that the form scrolls, scrolled so that the find button is the last thing
    // in view and the controls after it are out of view.
    window->resize(940, 300);
    auto scroll = widget<QScrollArea>("scrollArea");
    auto find = widget<QPushButton>("pBtn_JustFindText");
    QTRY_VERIFY(scroll->verticalScrollBar()->maximum() > 0);
    const int findBottom = find->mapTo(scroll->widget(), QPoint(0, find->height())).y();
    scroll->verticalScrollBar()->setValue(findBottom - scroll->viewport()->height());
    const int scrolled = scroll->verticalScrollBar()->value();
    QVERIFY(scrolled > 0);
    const QPoint findOnScreen = find->mapToGlobal(QPoint());

    find->setFocus(Qt::MouseFocusReason);
    click(QStringLiteral("pBtn_JustFindText"));
    QVERIFY(!find->isEnabled());
    QCOMPARE(scroll->verticalScrollBar()->value(), scrolled);
    QCOMPARE(find->mapToGlobal(QPoint()), findOnScreen);
    QVERIFY(widget<QPushButton>("pBtn_Stop")->hasFocus());

    waitForRunEnd();
    QVERIFY(find->hasFocus());
    QCOMPARE(scroll->verticalScrollBar()->value(), scrolled);
}

// Without a viewer the report would seem never written: the status line names it.
void TestLaunch::reportWithoutViewerIsNamed()
{
    reportNotOpened = true;
    WriteTree(source(), SourceTree());
    widget<QLineEdit>("lEdt_SourcePath")->setText(source());
    widget<QLineEdit>("lEdt_JustFindText")->setText(QStringLiteral("小云"));
    click(QStringLiteral("pBtn_JustFindText"));
    waitForRunEnd();
    QTRY_VERIFY2(label().endsWith(QStringLiteral("\n无法打开目录,请自行查看:") +
                                  QDir::toNativeSeparators(source() + reportName)),
                 qPrintable(label()));
    QVERIFY(label().startsWith(QStringLiteral("扫描文件4个")));
}

// A folder stands where the list of failed files goes: the window lists them itself.
void TestLaunch::failuresShownWithoutTheirReport()
{
    Tree tree = SourceTree();
    tree.insert(QStringLiteral("子/坏.txt"), Gbk("小云") + QByteArray("\x81\x20"));
    WriteTree(source(), tree);
    QVERIFY(QDir(source()).mkdir(QStringLiteral("无法打开修改的文件目录(文件格式有误).txt")));
    widget<QLineEdit>("lEdt_SourcePath")->setText(source());
    widget<QLineEdit>("lEdt_SavePath")->setText(save());
    widget<QLineEdit>("lEdt_FindText")->setText(QStringLiteral("小云"));
    widget<QLineEdit>("lEdt_ReplaceExcelText")->setText(QStringLiteral("小雨"));
    click(QStringLiteral("pBtn_ReplaceExcelText"));
    waitForRunEnd();

    auto *results = window->findChild<ResultsDialog *>();
    QVERIFY2(results, qPrintable(label()));
    QAbstractItemModel *rows = results->findChild<QTableView *>()->model();
    QCOMPARE(rows->rowCount(), 1);
    QCOMPARE(rows->index(0, ResultsDialog::PathColumn).data().toString(),
             QStringLiteral("子/坏.txt"));
    QCOMPARE(rows->index(0, ResultsDialog::StatusColumn).data().toString(),
             QStringLiteral("文件编码有误,改写会损坏内容"));
}

// In place, a read-only file is no change the preview can promise.
void TestLaunch::previewMarksReadOnlyFiles()
{
    WriteTree(source(), SourceTree());
    QVERIFY(QFile::setPermissions(source() + QStringLiteral("子/b.txt"),
                                  QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    widget<QLineEdit>("lEdt_SourcePath")->setText(source());
    widget<QLineEdit>("lEdt_FindText")->setText(QStringLiteral("小云"));
    widget<QLineEdit>("lEdt_ReplaceExcelText")->setText(QStringLiteral("小雨"));
    widget<QCheckBox>("cBox_SaveInSrc")->setChecked(true);
    widget<QCheckBox>("cBox_Preview")->setChecked(true);
    click(QStringLiteral("pBtn_ReplaceExcelText"));
    waitForRunEnd();

    auto *results = window->findChild<ResultsDialog *>();
    QVERIFY(results);
    QAbstractItemModel *rows = results->findChild<QTableView *>()->model();
    QMap<QString, QString> statuses;
    for (int row = 0; row < rows->rowCount(); ++row)
        statuses.insert(QDir::fromNativeSeparators(
                            rows->index(row, ResultsDialog::PathColumn).data().toString()),
                        rows->index(row, ResultsDialog::StatusColumn).data().toString());
    const QMap<QString, QString> expected{{QStringLiteral("a.txt"), QStringLiteral("将修改")},
                                          {QStringLiteral("子/b.txt"), QStringLiteral("文件只读")}};
    QCOMPARE(statuses, expected);
}

void TestLaunch::previewWritesOnlyCheckedFiles_data()
{
    QTest::addColumn<QString>("unchecked"); // a file left out, or none
    QTest::addColumn<bool>("apply");        // 应用所选, or the view closed
    QTest::addColumn<bool>("moved");        // the source field names another folder by then
    QTest::newRow("all applied") << QString() << true << false;
    QTest::newRow("one unchecked") << QStringLiteral("子/b.txt") << true << false;
    QTest::newRow("closed") << QString() << false << false;
    QTest::newRow("another source by then") << QString() << true << true;
}

void TestLaunch::previewWritesOnlyCheckedFiles()
{
    QFETCH(QString, unchecked);
    QFETCH(bool, apply);
    QFETCH(bool, moved);
    WriteTree(source(), SourceTree());
    WriteTree(save(), SourceTree());
    widget<QLineEdit>("lEdt_SourcePath")->setText(source());
    widget<QLineEdit>("lEdt_FindText")->setText(QStringLiteral("小云"));
    widget<QLineEdit>("lEdt_ReplaceExcelText")->setText(QStringLiteral("小雨"));
    widget<QCheckBox>("cBox_SaveInSrc")->setChecked(true);
    widget<QCheckBox>("cBox_Preview")->setChecked(true);
    click(QStringLiteral("pBtn_ReplaceExcelText"));
    waitForRunEnd();
    QCOMPARE(ReadTree(source()), SourceTree()); // the preview wrote nothing, not even a report

    auto *results = window->findChild<ResultsDialog *>();
    QVERIFY(results);
    QAbstractItemModel *rows = results->findChild<QTableView *>()->model();
    QCOMPARE(rows->rowCount(), 2);
    for (int row = 0; row < rows->rowCount(); ++row) {
        const QModelIndex path = rows->index(row, ResultsDialog::PathColumn);
        if (path.data().toString() == unchecked)
            QVERIFY(rows->setData(path, Qt::Unchecked, Qt::CheckStateRole));
    }
    if (moved)
        widget<QLineEdit>("lEdt_SourcePath")->setText(save());
    if (apply) {
        const auto buttons = results->findChildren<QPushButton *>();
        const auto applyButton = std::find_if(buttons.begin(), buttons.end(), [](auto *button) {
            return button->text() == QStringLiteral("应用所选(&A)");
        });
        QVERIFY(applyButton != buttons.end());
        QTest::mouseClick(*applyButton, Qt::LeftButton);
        QTRY_VERIFY(!window->isRunWorking());
    }
    // A refused apply leaves the view open, so the folder can be put right and applied again.
    if (!apply || moved)
        results->close();
    QTRY_VERIFY(!window->findChild<ResultsDialog *>());

    Tree expected = SourceTree();
    QStringList reported;
    QCOMPARE(ReadTree(save()), SourceTree());
    if (moved)
        QCOMPARE(label(), QStringLiteral("预览文件与所选文件夹不符"));
    if (apply && !moved) {
        const Tree changed{{QStringLiteral("a.txt"), Utf8("小雨和小吉\r\n")},
                           {QStringLiteral("子/b.txt"), Gbk("小雨在山上。")}};
        for (auto it = changed.begin(); it != changed.end(); ++it) {
            if (it.key() == unchecked)
                continue;
            expected.insert(it.key(), it.value());
            reported << source() + it.key();
        }
        expected.insert(reportName, ReportBytes(reported));
        QVERIFY(label().startsWith(QStringLiteral("扫描文件")));
    }
    QCOMPARE(ReadTree(source()), expected);
}

void TestLaunch::ruleTablePickedAndRun_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QString>("findBox"); // as the pick fills it
    QTest::addColumn<QString>("answer");  // to the question about chains; empty: none asked
    QTest::addColumn<Tree>("written");
    QTest::addColumn<QString>("noted"); // in the status line after the run

    QTest::newRow("a rule switched off, one that does nothing")
        << Utf8("# 示例\n小云\t大云\n#off 小吉\t大吉\n不存在\t无\n")
        << QStringLiteral("小云\n不存在") << QString()
        << Tree{{QStringLiteral("a.txt"), Utf8("大云和小吉\r\n")},
                {QStringLiteral("子/b.txt"), Gbk("大云在山上。")}}
        << QStringLiteral("第2组0次");
    QTest::newRow("a chain, cancelled")
        << Utf8("小云\t小吉\n小吉\t大吉\n") << QStringLiteral("小云\n小吉")
        << QStringLiteral("cancel") << Tree() << QString();
    QTest::newRow("a chain, run anyway")
        << Utf8("小云\t小吉\n小吉\t大吉\n") << QStringLiteral("小云\n小吉")
        << QStringLiteral("continue")
        << Tree{{QStringLiteral("a.txt"), Utf8("大吉和大吉\r\n")},
                {QStringLiteral("子/b.txt"), Gbk("大吉在山上。")}}
        << QStringLiteral("第1组2次");
}

void TestLaunch::ruleTablePickedAndRun()
{
    QFETCH(QByteArray, table);
    QFETCH(QString, findBox);
    QFETCH(QString, answer);
    QFETCH(Tree, written);
    QFETCH(QString, noted);

    WriteTree(source(), SourceTree());
    WriteTree(root->filePath(QStringLiteral("rules")), {{QStringLiteral("规则.txt"), table}});
    widget<QLineEdit>("lEdt_SourcePath")->setText(source());
    widget<QLineEdit>("lEdt_SavePath")->setText(save());
    // The list looks in the folder again when it is used.
    auto *list = widget<QComboBox>("cBox_RuleTable");
    QFocusEvent focused(QEvent::FocusIn);
    QApplication::sendEvent(list, &focused);
    const int index = list->findText(QStringLiteral("规则.txt"));
    QVERIFY(index > 0);
    list->setCurrentIndex(index);
    emit list->activated(index);
    QCOMPARE(widget<QPlainTextEdit>("pTEdt_FindText")->toPlainText(), findBox);

    QString asked;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, [&] {
        auto box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        asked = box->text();
        box->button(answer == QLatin1String("continue") ? QMessageBox::Yes : QMessageBox::Cancel)
            ->click();
    });
    answerer.start(5);
    click(QStringLiteral("pBtn_ReplaceExcelText_2"));
    waitForRunEnd();
    answerer.stop();
    // The question names both rules of the chain.
    QCOMPARE(!asked.isEmpty(), !answer.isEmpty());
    if (!asked.isEmpty()) {
        QVERIFY2(asked.contains(QStringLiteral("小云 → 小吉")), qPrintable(asked));
        QVERIFY2(asked.contains(QStringLiteral("小吉 → 大吉")), qPrintable(asked));
    }
    QCOMPARE(ReadTree(save()), written);
    if (!noted.isEmpty())
        QVERIFY2(label().contains(noted), qPrintable(label()));
}

QTEST_MAIN(TestLaunch)
#include "tst_launch.moc"
