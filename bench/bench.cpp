// Runs each batch operation over a tree and prints files/s, MB/s and peak memory.
#include "engine/batch/BatchSettings.h"
#include "engine/run/RunBatch.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>

namespace {

long PeakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool CopyTree(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + path.mid(from.size());
        QDir().mkpath(QFileInfo(target).path());
        if (!QFile::copy(path, target))
            return false;
    }
    return true;
}

struct Case
{
    const char *name;
    Operation operation;
    bool inPlace;
    bool dryRun;
};

void Run(const Case &c, const QString &tree, const QString &scratch)
{
    BatchSettings settings;
    settings.detectUtf16 = true;
    settings.findText = QStringLiteral("小云");
    settings.replaceText = QStringLiteral("阿云");
    settings.findLines =
        QStringList{QStringLiteral("小云"), QStringLiteral("小吉"), QStringLiteral("京城")};
    settings.replaceLines =
        QStringList{QStringLiteral("阿云"), QStringLiteral("阿吉"), QStringLiteral("长安")};
    settings.searchTerms = QStringLiteral("小云||小吉");
    settings.insertText = QStringLiteral("【序】\n");
    settings.sourceDir = tree;
    QTemporaryDir save(scratch + QStringLiteral("/save-XXXXXX"));
    QTemporaryDir copy(scratch + QStringLiteral("/copy-XXXXXX"));
    if (c.inPlace) {
        if (!CopyTree(tree, copy.path())) {
            std::fprintf(stderr, "cannot copy the tree\n");
            return;
        }
        settings.sourceDir = copy.path();
        settings.saveInSource = true;
    } else {
        settings.saveDir = save.path();
    }
    qint64 bytes = 0;
    RunObserver observer;
    observer.fileHandled = [&bytes](qint64 size) { bytes += size; };
    RunOptions options;
    options.dryRun = c.dryRun;
    options.writeReports = false;
    QElapsedTimer timer;
    timer.start();
    const RunResult result = RunBatch(c.operation, settings, observer, options);
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("%-22s %6d txt %7.1f MB %7.2f s %8.0f files/s %7.1f MB/s  changed %5d failed %d  "
                "peak %ld MB\n",
                c.name, result.txtFiles, bytes / 1048576.0, seconds, result.txtFiles / seconds,
                bytes / 1048576.0 / seconds, result.changed, result.failed, PeakKilobytes() / 1024);
}

const char usage[] = "usage: parafold-bench TREE_DIR [OPERATION]\n"
                     "Runs each operation (or only OPERATION) over a copy of TREE_DIR and\n"
                     "prints files/s, MB/s and peak memory. Operations:";

int Usage(const QString &complaint)
{
    std::fprintf(stderr, "parafold-bench: %s\n", qPrintable(complaint));
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Case cases[] = {
        {"find", Operation::FindText, false, false},
        {"replace-dry", Operation::ReplaceText, false, true},
        {"replace-save", Operation::ReplaceText, false, false},
        {"pairs-save", Operation::ReplacePairs, false, false},
        {"insert-dry", Operation::InsertText, false, true},
        {"insert-save", Operation::InsertText, false, false},
        {"insert-inplace", Operation::InsertText, true, false},
    };
    QStringList names;
    for (const Case &c : cases)
        names << QString::fromLatin1(c.name);

    QStringList args = app.arguments().mid(1);
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        std::printf("%s %s\n", usage, qPrintable(names.join(QLatin1Char(' '))));
        return 0;
    }
    for (const QString &argument : args) {
        if (argument.startsWith(QLatin1Char('-')))
            return Usage(QStringLiteral("unknown option ") + argument);
    }
    if (args.isEmpty() || args.size() > 2)
        return Usage(QStringLiteral("give a tree folder and at most one operation; see --help"));
    const QString tree = QDir(args.at(0)).absolutePath();
    if (!QFileInfo(tree).isDir())
        return Usage(QStringLiteral("no such folder: ") + args.at(0));
    const QString only = args.size() == 2 ? args.at(1) : QString();
    if (!only.isEmpty() && !names.contains(only))
        return Usage(QStringLiteral("unknown operation ") + only + QStringLiteral("; one of ") +
                     names.join(QLatin1Char(' ')));
    const QString scratch = QFileInfo(tree).path();
    std::printf("peak before runs: %ld MB\n", PeakKilobytes() / 1024);
    for (const Case &c : cases) {
        if (only.isEmpty() || only == QLatin1String(c.name))
            Run(c, tree, scratch);
    }
    return 0;
}
