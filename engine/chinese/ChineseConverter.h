#pragma once

#include <QString>
#include <memory>
#include <optional>

// One of OpenCC's conversions between simplified and traditional characters, its dictionaries
// loaded once (which takes a while) and then shared: convert() may be called from any number
// of threads at once.
class ChineseConverter
{
public:
    // Loads the configuration named ("t2s", "s2twp", ...) from the first folder that holds
    // it: "opencc" beside the program, then OpenCC's installed data. Every dictionary is
    // named by its full path, so nothing is ever taken from the current folder. Null, with
    // the reason in error, when it cannot be loaded.
    static std::shared_ptr<const ChineseConverter> load(const QString &config, QString *error);

    ~ChineseConverter();
    ChineseConverter(const ChineseConverter &) = delete;
    ChineseConverter &operator=(const ChineseConverter &) = delete;

    // The text converted; nothing when OpenCC fails on it.
    std::optional<QString> convert(const QString &text) const;

    // Whether this build has OpenCC at all.
    static bool available();

private:
    struct Loaded;
    explicit ChineseConverter(std::unique_ptr<Loaded> loaded);
    std::unique_ptr<Loaded> loaded;
};
