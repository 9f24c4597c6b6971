// Writes a deterministic tree of Chinese text files in mixed encodings for benchmarks.
#include "engine/codec/TextCodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTextCodec>
#include <QTextStream>

#include <cstdint>
#include <cstdio>

namespace {

// A small fixed generator, so the same arguments always give the same tree.
class Random
{
public:
    explicit Random(std::uint64_t seed)
        : state(seed * 6364136223846793005ull + 1442695040888963407ull)
    {}
    std::uint32_t next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return static_cast<std::uint32_t>((state * 2685821657736338717ull) >> 32);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint32_t>(n)); }

private:
    std::uint64_t state;
};

const char *const phrases[] = {
    "夜色渐深，",
    "江边的风吹过柳梢，",
    "她轻声说道：",
    "“我们明天再走吧。”",
    "他没有回答，",
    "只是望着远处的灯火。",
    "城门外的马车停了下来，",
    "雨水打湿了石阶，",
    "老人叹了一口气，",
    "窗外传来几声犬吠。",
    "那封信终于送到了京城，",
    "少年握紧了手中的剑，",
    "山路蜿蜒向上，",
    "月光照在湖面上，",
    "茶已经凉了，",
    "掌柜的笑着迎了出来，",
    "这一年的冬天格外寒冷。",
    "They said nothing more. ",
    "书页在风中翻动，",
    "远处的钟声响了三下。",
};
const char *const names[] = {"小云", "小吉"};

// names: which of 小云 (bit 0) and 小吉 (bit 1) this file's story mentions.
QString Paragraph(Random &random, int names)
{
    QString text = QStringLiteral("　　");
    const int count = 4 + random.below(10);
    for (int i = 0; i < count; ++i) {
        const int name = random.below(2);
        if ((names >> name & 1) && random.below(30) == 0)
            text += QString::fromUtf8(::names[name]);
        text += QString::fromUtf8(phrases[random.below(sizeof phrases / sizeof *phrases)]);
    }
    return text;
}

QByteArray Encode(const QString &text, int kind)
{
    switch (kind) {
    case 0:
        return QTextCodec::codecForName("GBK")->fromUnicode(text);
    case 1:
        return text.toUtf8();
    case 2:
        return QByteArrayLiteral("\xEF\xBB\xBF") + text.toUtf8();
    default: {
        const bool little = kind == 3;
        const QByteArray bom =
            little ? QByteArrayLiteral("\xFF\xFE") : QByteArrayLiteral("\xFE\xFF");
        return bom + EncodeUtf16(text, little);
    }
    }
}

const char usage[] = "usage: parafold-gentree TREE_DIR [--novels] [--files N] [--mb M] [--seed S]\n"
                     "Writes N files (default 5000) of about M MB in all (default 100) into\n"
                     "TREE_DIR; the same seed (default 1) always gives the same tree.\n"
                     "--novels: whole novels instead, 200 files of 2 to 12 MB (1.4 GB) unless\n"
                     "--files and --mb say otherwise.\n";

int Usage(const QString &complaint)
{
    std::fprintf(stderr, "parafold-gentree: %s\n%s", qPrintable(complaint), usage);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString root;
    int files = 0;
    double megabytes = 0;
    std::uint64_t seed = 1;
    bool novels = false;
    while (!args.isEmpty()) {
        const QString argument = args.takeFirst();
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (argument == QLatin1String("--novels")) {
            novels = true;
            continue;
        }
        if (!argument.startsWith(QLatin1Char('-'))) {
            if (!root.isEmpty())
                return Usage(QStringLiteral("one tree folder only"));
            root = argument;
            continue;
        }
        if (args.isEmpty())
            return Usage(argument + QStringLiteral(" needs a value"));
        const QString value = args.takeFirst();
        bool ok = false;
        if (argument == QLatin1String("--files"))
            files = value.toInt(&ok);
        else if (argument == QLatin1String("--mb"))
            megabytes = value.toDouble(&ok);
        else if (argument == QLatin1String("--seed"))
            seed = value.toULongLong(&ok);
        else
            return Usage(QStringLiteral("unknown option ") + argument);
        if (!ok)
            return Usage(QStringLiteral("not a number: ") + value);
    }
    if (root.isEmpty())
        return Usage(QStringLiteral("no tree folder given"));
    if (files == 0)
        files = novels ? 200 : 5000;
    if (megabytes == 0)
        megabytes = novels ? 1400 : 100;
    if (files <= 0 || megabytes <= 0)
        return Usage(QStringLiteral("--files and --mb must be above zero"));

    Random random(seed);
    const qint64 averageChars = static_cast<qint64>(megabytes * 1024 * 1024 / files / 2.4);
    qint64 totalBytes = 0;
    QString madeFolder;
    for (int i = 0; i < files; ++i) {
        // About fifty files a folder, up to three levels deep.
        const int folder = i / 50;
        const QString path = QStringLiteral("%1/卷%2/第%3部/章%4")
                                 .arg(root)
                                 .arg(folder / 20)
                                 .arg(folder / 5 % 4)
                                 .arg(folder % 5);
        if (path != madeFolder) {
            QDir().mkpath(path);
            madeFolder = path;
        }
        const bool other = random.below(20) == 0;
        const QString name = QStringLiteral("%1/篇%2.%3")
                                 .arg(path)
                                 .arg(i, 5, 10, QLatin1Char('0'))
                                 .arg(other ? QStringLiteral("md") : QStringLiteral("txt"));
        // A novel is 2/7 to 12/7 of the average, a short text 1/2 to 3/2 of it.
        const qint64 target =
            novels ? averageChars * (2 + random.below(11)) / 7
                   : averageChars / 2 + random.below(static_cast<int>(averageChars) + 1);
        const QString lineEnd = random.below(2) ? QStringLiteral("\r\n") : QStringLiteral("\n");
        // About a third of the stories mention 小云, a quarter 小吉.
        const int names = (random.below(3) == 0 ? 1 : 0) | (random.below(4) == 0 ? 2 : 0);
        QString text;
        while (text.size() < target)
            text += Paragraph(random, names) + lineEnd;
        const int roll = random.below(10);
        const int kind = roll < 4 ? 0 : roll < 7 ? 1 : roll < 8 ? 2 : roll < 9 ? 3 : 4;
        const QByteArray bytes = Encode(text, kind);
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
            return 1;
        }
        totalBytes += bytes.size();
    }
    std::printf("%d files, %.1f MB in %s\n", files, totalBytes / 1048576.0, qPrintable(root));
    return 0;
}
