#pragma once

#include <QString>

// A read-only descriptor opened only if the path leads to a regular file, closed with the
// object. Movable, so that a caller can hold a file open between commands.
class RegularFile
{
public:
    RegularFile() = default;
    explicit RegularFile(const QString &path);
    ~RegularFile();
    RegularFile(RegularFile &&other) noexcept;
    RegularFile &operator=(RegularFile &&other) noexcept;
    RegularFile(const RegularFile &) = delete;
    RegularFile &operator=(const RegularFile &) = delete;

    [[nodiscard]] bool isOpen() const { return m_fd >= 0; }
    [[nodiscard]] int fd() const { return m_fd; }
    [[nodiscard]] qint64 size() const { return m_size; }

private:
    int m_fd = -1;
    qint64 m_size = 0;
};
