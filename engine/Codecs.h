#pragma once

class QTextCodec;

// The codecs the engine uses, looked up once: worker threads ask for them for every file,
// and Qt's own lookup takes a global lock.
QTextCodec *GbkCodec();
QTextCodec *Utf8Codec();
