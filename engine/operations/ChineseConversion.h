#pragma once

#include "engine/operations/Conversion.h"

#include <memory>

class ChineseConverter;

// Simplified/traditional conversion of the text, the file kept in its own encoding (byte-order
// mark and all) and its line ends. A character the encoding cannot hold (GBK lacks many
// traditional ones) fails the file rather than being lost; a file whose text does not change
// is AlreadyInTarget. The converter is shared by every thread of the run.
class ChineseConversion : public FileConversion
{
public:
    explicit ChineseConversion(std::shared_ptr<const ChineseConverter> converter);
    ConvertedFile convert(const QByteArray &bytes) const override;

private:
    std::shared_ptr<const ChineseConverter> converter;
};
