#pragma once

#include "engine/batch/BatchSettings.h"
#include "engine/batch/Failure.h"

#include <QByteArray>
#include <optional>

// One file of a conversion: read in its own (or the chosen) encoding, line ends set as asked,
// written in the target encoding. Nothing is written unless reading the new bytes back, as
// any run reads a file, gives exactly the text that was read.
struct ConvertedFile
{
    enum Kind
    {
        AlreadyInTarget, // the new bytes would be the file's own
        Converted,
        Failed,
    };
    Kind kind = AlreadyInTarget;
    QByteArray bytes;                     // for Converted
    FailureKind failure{};                // for Failed
    QString detail;                       // for Failed: the candidates of an uncertain encoding
    const char *sourceEncoding = nullptr; // as EncodingName, or "Big5"; once it is known
};

// An operation that decides each file from its bytes as a whole, in place of a text hook.
class FileConversion
{
public:
    virtual ~FileConversion() = default;
    virtual ConvertedFile convert(const QByteArray &bytes) const = 0;
};

class Conversion : public FileConversion
{
public:
    explicit Conversion(const BatchSettings &settings);
    ConvertedFile convert(const QByteArray &bytes) const override;

private:
    ConvertTarget target;
    ConvertSource source;
    LineEnds lineEnds;
};
