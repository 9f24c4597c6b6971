#pragma once

// What the window's keyboard and mouse tests share: trees on disk, typed text, answered boxes.

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

namespace window_fixture {

using Tree = QMap<QString, QByteArray>; // relative path with "/" -> bytes

inline void WriteTree(const QString &folder, const Tree &tree)
{
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        const QString path = QDir(folder).filePath(it.key());
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(it.value()), qint64(it.value().size()));
    }
}

// The files below folder whose names match, the journal left out.
inline Tree ReadTree(const QString &folder, const QStringList &names = {})
{
    Tree tree;
    QDirIterator it(folder, names, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            tree.insert(QDir(folder).relativeFilePath(path), file.readAll());
    }
    return tree;
}

// Types a text as key presses (QTest::keyClicks takes only ASCII); a line feed is Return.
inline void Type(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        if (c == QLatin1Char('\n')) {
            QTest::keyClick(widget, Qt::Key_Return);
            continue;
        }
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QApplication::sendEvent(widget, &release);
    }
}

// Answers every message box with `answer` (its first button when it has none such) and
// keeps the titles asked.
class BoxAnswerer
{
public:
    explicit BoxAnswerer(QMessageBox::StandardButton answer)
    {
        QObject::connect(&timer, &QTimer::timeout, [this, answer] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            asked << box->windowTitle();
            QAbstractButton *button = box->button(answer);
            (button ? button : box->buttons().constFirst())->click();
        });
        timer.start(25);
    }
    QStringList asked;

private:
    QTimer timer;
};

} // namespace window_fixture
