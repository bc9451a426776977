#pragma once

#include <QString>

// A read-only descriptor opened only if the path leads to a regular file, closed with the
// object. Movable, so that a caller can hold a file open between commands.
// On Windows the descriptor is the C runtime's, over a handle opened by its wide-character
// path (Japanese names that the ANSI code page cannot spell open as well).
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

    // Whether the path leads to a regular file (links followed), without opening it.
    [[nodiscard]] static bool isRegular(const QString &path);
    // Reads up to `length` bytes at `offset` of a descriptor without moving its position:
    // the count read, 0 at the end, -1 on an error.
    [[nodiscard]] static qint64 readAt(int fd, void *target, qint64 length, qint64 offset);
    // The descriptor will be read front to back: the system may read ahead.
    static void adviseSequential(int fd);

private:
    int m_fd = -1;
    qint64 m_size = 0;
};
