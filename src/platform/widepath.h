#pragma once

#include <QString>

// A path as the wide-character Windows calls take it: QString already holds UTF-16.
inline const wchar_t *widePath(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}
