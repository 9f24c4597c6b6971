// The settings file: a value that is set is the value read back, and the other keys keep
// theirs.

#include "app/ConfigFile.h"
#include "tests/fuzz/FuzzCheck.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdint>

namespace {

QByteArray Trimmed(const QByteArray &value)
{
    int begin = 0;
    int end = value.size();
    while (begin < end && (value.at(begin) == ' ' || value.at(begin) == '\t'))
        ++begin;
    while (end > begin && (value.at(end - 1) == ' ' || value.at(end - 1) == '\t'))
        --end;
    return value.mid(begin, end - begin);
}

// A key that SetConfigValue takes.
bool IsPlainKey(const QByteArray &key)
{
    return !key.isEmpty() && Trimmed(key) == key && !key.contains('=') && !key.contains('\r') &&
           !key.contains('\n');
}

// One file for the whole run, removed when the run ends.
struct SettingsFile
{
    const QString path = QDir::temp().filePath(
        QStringLiteral("parafold-fuzz-%1.cvn").arg(QCoreApplication::applicationPid()));
    ~SettingsFile() { QFile::remove(path); }
};

const QString &SettingsPath()
{
    static const SettingsFile file;
    return file.path;
}

} // namespace

// Input: the key's length, the other key's length, the value's length, then key, other key,
// value and the file's old content.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 3)
        return 0;
    const char *text = reinterpret_cast<const char *>(data) + 3;
    const QByteArray all(text, static_cast<int>(size - 3));
    const QByteArray key = all.left(data[0]);
    const QByteArray otherKey = all.mid(key.size(), data[1]);
    const QByteArray value = all.mid(key.size() + otherKey.size(), data[2]);
    const QByteArray old = all.mid(key.size() + otherKey.size() + value.size());

    QFile file(SettingsPath());
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(old) == old.size());
    file.close();
    const int result = SetConfigValue(SettingsPath(), key, value);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    file.close();

    if (result != 0) {
        FUZZ_CHECK(content == old);
        return 0;
    }
    const QByteArray trimmed = Trimmed(value);
    FUZZ_CHECK(GetConfigValue(content, key) ==
               (trimmed.size() < CONFIG_VALUE_SIZE ? trimmed : QByteArray()));
    if (IsPlainKey(otherKey) && otherKey != key && !GetConfigValue(old, otherKey).isEmpty())
        FUZZ_CHECK(GetConfigValue(content, otherKey) == GetConfigValue(old, otherKey));
    return 0;
}
