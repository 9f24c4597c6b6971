#pragma once

#include <QByteArray>
#include <QtGlobal>

// XXH64 (seed 0) of the bytes: a 64-bit hash that runs at memory speed, so hashing each
// file a run reads and writes costs little next to the I/O. It only has to tell a file
// that someone edited since the run from the one the run wrote, which needs no
// cryptographic strength; a CRC-32 would collide once in four billion files, and MD5 or
// SHA-1 through QCryptographicHash run ten to twenty times slower.
quint64 ContentHash(const char *data, qint64 size);
inline quint64 ContentHash(const QByteArray &bytes)
{
    return ContentHash(bytes.constData(), bytes.size());
}

// The same hash of bytes handed over a piece at a time.
class ContentHasher
{
public:
    void add(const char *data, qint64 size);
    quint64 hash() const;

private:
    quint64 lanes[4] = {};
    uchar pending[32] = {}; // bytes short of a 32-byte stripe
    int pendingSize = 0;
    qint64 total = 0;
};
