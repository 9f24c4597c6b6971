#include "engine/journal/ContentHash.h"

#include <QtEndian>

#include <algorithm>

namespace {

constexpr quint64 prime1 = 0x9E3779B185EBCA87ULL;
constexpr quint64 prime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr quint64 prime3 = 0x165667B19E3779F9ULL;
constexpr quint64 prime4 = 0x85EBCA77C2B2AE63ULL;
constexpr quint64 prime5 = 0x27D4EB2F165667C5ULL;

quint64 RotateLeft(quint64 value, int bits)
{
    return (value << bits) | (value >> (64 - bits));
}

quint64 Read64(const uchar *at)
{
    return qFromLittleEndian<quint64>(at);
}

quint64 Read32(const uchar *at)
{
    return qFromLittleEndian<quint32>(at);
}

quint64 Round(quint64 accumulator, quint64 input)
{
    accumulator += input * prime2;
    return RotateLeft(accumulator, 31) * prime1;
}

quint64 MergeRound(quint64 accumulator, quint64 lane)
{
    accumulator ^= Round(0, lane);
    return accumulator * prime1 + prime4;
}

} // namespace

namespace {

// The lanes' starting values and the tail's work, shared by the whole and the piecewise hash.
const quint64 startLanes[4] = {prime1 + prime2, prime2, 0, 0 - prime1};

void Stripe(quint64 *lanes, const uchar *at)
{
    for (int lane = 0; lane < 4; ++lane)
        lanes[lane] = Round(lanes[lane], Read64(at + 8 * lane));
}

quint64 Finish(const quint64 *lanes, qint64 total, const uchar *at, const uchar *end)
{
    quint64 hash;
    if (total >= 32) {
        hash = RotateLeft(lanes[0], 1) + RotateLeft(lanes[1], 7) + RotateLeft(lanes[2], 12) +
               RotateLeft(lanes[3], 18);
        for (int lane = 0; lane < 4; ++lane)
            hash = MergeRound(hash, lanes[lane]);
    } else {
        hash = prime5;
    }
    hash += static_cast<quint64>(total);
    for (; end - at >= 8; at += 8)
        hash = RotateLeft(hash ^ Round(0, Read64(at)), 27) * prime1 + prime4;
    if (end - at >= 4) {
        hash = RotateLeft(hash ^ (Read32(at) * prime1), 23) * prime2 + prime3;
        at += 4;
    }
    for (; at < end; ++at)
        hash = RotateLeft(hash ^ (*at * prime5), 11) * prime1;
    hash ^= hash >> 33;
    hash *= prime2;
    hash ^= hash >> 29;
    hash *= prime3;
    hash ^= hash >> 32;
    return hash;
}

} // namespace

void ContentHasher::add(const char *data, qint64 size)
{
    const uchar *at = reinterpret_cast<const uchar *>(data);
    const uchar *const end = at + size;
    if (total == 0)
        std::copy(startLanes, startLanes + 4, lanes);
    total += size;
    if (pendingSize > 0) {
        const int taken = int(std::min<qint64>(32 - pendingSize, end - at));
        std::copy(at, at + taken, pending + pendingSize);
        pendingSize += taken;
        at += taken;
        if (pendingSize < 32)
            return;
        Stripe(lanes, pending);
        pendingSize = 0;
    }
    for (; end - at >= 32; at += 32)
        Stripe(lanes, at);
    std::copy(at, end, pending);
    pendingSize = int(end - at);
}

quint64 ContentHasher::hash() const
{
    return Finish(total == 0 ? startLanes : lanes, total, pending, pending + pendingSize);
}

quint64 ContentHash(const char *data, qint64 size)
{
    const uchar *at = reinterpret_cast<const uchar *>(data);
    const uchar *const end = at + size;
    quint64 lanes[4] = {startLanes[0], startLanes[1], startLanes[2], startLanes[3]};
    for (; end - at >= 32; at += 32)
        Stripe(lanes, at);
    return Finish(lanes, size, at, end);
}
