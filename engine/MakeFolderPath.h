#pragma once

#include <QString>

// Creates the folder with every missing ancestor. True when a folder stands there afterwards;
// false when it cannot be made, for example because a file holds one of the names.
bool MakeFolderPath(const QString &path);
