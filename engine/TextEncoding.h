#pragma once

enum class TextEncoding
{
    Utf16Le,
    Utf16Be,
    Utf8,
    Gbk,
};
