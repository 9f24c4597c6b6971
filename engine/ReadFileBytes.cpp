#include "ReadFileBytes.h"

#include <QFile>

#include <limits>

bool ReadFileBytes(const QString &path, QByteArray &bytes)
{
    bytes.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    const qint64 size = file.size();
    if (size > std::numeric_limits<int>::max() - 1)
        return false;
    // One byte more than the size tells a file that grew since it was measured.
    bytes.resize(static_cast<int>(size) + 1);
    qint64 total = 0;
    for (;;) {
        const qint64 got = file.read(bytes.data() + total, bytes.size() - total);
        if (got < 0) {
            bytes.clear();
            return false;
        }
        total += got;
        if (got == 0 || total < bytes.size())
            break;
        if (bytes.size() > std::numeric_limits<int>::max() / 2) {
            bytes.clear();
            return false;
        }
        bytes.resize(bytes.size() * 2);
    }
    bytes.resize(static_cast<int>(total));
    return true;
}
