#include "Codecs.h"

#include <QTextCodec>

QTextCodec *GbkCodec()
{
    static QTextCodec *const codec = QTextCodec::codecForName("GBK");
    return codec;
}

QTextCodec *Utf8Codec()
{
    static QTextCodec *const codec = QTextCodec::codecForMib(106);
    return codec;
}
