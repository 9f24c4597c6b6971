#include "engine/codec/GbkUtf8.h"

#include "engine/codec/TextCodec.h"

#include <QString>
#include <vector>

namespace {

bool IsLead(unsigned char byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

bool IsTrail(unsigned char byte)
{
    return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFE);
}

// Each character's code unit, 0 for one the table does not settle. Units rather than UTF-8:
// the table is half the size, and stays in the cache.
class GbkTable
{
public:
    GbkTable() : units(size_t(0x80) << 8, 0)
    {
        // Every character that is not ASCII, each on its own line, decoded in one call.
        QByteArray all;
        std::vector<int> slots; // each line's place in units
        for (int lead = 0x80; lead <= 0xFF; ++lead) {
            if (!IsLead(uchar(lead))) {
                all += char(lead);
                all += '\n';
                slots.push_back(slot(uchar(lead), 0));
                continue;
            }
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                if (!IsTrail(uchar(trail)))
                    continue;
                all += char(lead);
                all += char(trail);
                all += '\n';
                slots.push_back(slot(uchar(lead), uchar(trail)));
            }
        }
        // A character that takes its line feed along, or comes out as other than one unit
        // that is not a surrogate, stays unsettled.
        const QString text = DecodeBytes(all, TextEncoding::Gbk, false).text;
        const QChar *at = text.constData();
        const QChar *const end = at + text.size();
        QByteArray joined; // the settled characters run together
        QString expected;
        int line = 0;
        size_t next = 0;
        for (const QChar *start = at; at < end; ++at) {
            if (*at != QLatin1Char('\n'))
                continue;
            if (next == slots.size())
                return;
            const int from = line;
            line = all.indexOf('\n', line) + 1;
            if (at - start == 1 && !start->isSurrogate() && start->unicode() != 0) {
                units[size_t(slots[next])] = start->unicode();
                joined += all.mid(from, line - 1 - from);
                expected += *start;
            }
            ++next;
            start = at + 1;
        }
        // Characters run together must read as they do apart, and ASCII as itself, or the
        // table is not used at all.
        QByteArray ascii(0x80, Qt::Uninitialized);
        for (int byte = 0; byte < 0x80; ++byte)
            ascii[byte] = char(byte);
        usable = next == slots.size() &&
                 DecodeBytes(joined, TextEncoding::Gbk, false).text == expected &&
                 DecodeBytes(ascii, TextEncoding::Gbk, false).text ==
                     QString::fromLatin1(ascii.constData(), ascii.size());
    }

    bool append(const char *data, qsizetype size, QByteArray &utf8) const
    {
        if (!usable)
            return false;
        // Written through a pointer into room for the most a byte can become, three bytes.
        const int start = utf8.size();
        utf8.resize(start + int(size) * 3);
        char *out = utf8.data() + start;
        const auto *at = reinterpret_cast<const unsigned char *>(data);
        const auto *const end = at + size;
        bool clean = true;
        while (at < end) {
            const unsigned char first = *at;
            if (first < 0x80) {
                *out++ = char(first);
                ++at;
                continue;
            }
            // A lead byte without its trail byte finds 0 in the table, as an unsettled
            // character does.
            const bool pair = IsLead(first);
            if (pair && end - at < 2) {
                clean = false;
                break;
            }
            const char16_t unit = units[size_t(first - 0x80) << 8 | (pair ? at[1] : 0)];
            at += pair ? 2 : 1;
            if (unit >= 0x800) {
                *out++ = char(0xE0 | unit >> 12);
                *out++ = char(0x80 | (unit >> 6 & 0x3F));
                *out++ = char(0x80 | (unit & 0x3F));
            } else if (unit >= 0x80) {
                *out++ = char(0xC0 | unit >> 6);
                *out++ = char(0x80 | (unit & 0x3F));
            } else if (unit != 0) {
                *out++ = char(unit);
            } else {
                clean = false;
                break;
            }
        }
        utf8.resize(int(out - utf8.constData()));
        return clean;
    }

private:
    // A lead byte's row, by trail byte; a single byte takes place 0 of its row, which no
    // trail byte has.
    static int slot(unsigned char lead, unsigned char trail) { return (lead - 0x80) << 8 | trail; }

    std::vector<char16_t> units;
    bool usable = false;
};

} // namespace

bool AppendGbkAsUtf8(const char *data, qsizetype size, QByteArray &utf8)
{
    static const GbkTable table;
    return table.append(data, size, utf8);
}
