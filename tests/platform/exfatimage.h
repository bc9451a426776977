#pragma once

// Reads the directory entries of an exFAT image in the order they stand on the
// volume: the order a car or portable player sees when it plays a folder.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QtEndian>

class ExfatImage
{
public:
    explicit ExfatImage(const QString &path)
    {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            m_bytes = file.readAll();
        m_valid = m_bytes.size() >= 512 && m_bytes.mid(3, 8) == "EXFAT   ";
        if (!m_valid)
            return;
        m_sectorBytes = qint64(1) << quint8(m_bytes.at(108));
        m_clusterBytes = m_sectorBytes << quint8(m_bytes.at(109));
        m_fatOffset = u32(80) * m_sectorBytes;
        m_heapOffset = u32(88) * m_sectorBytes;
        m_rootCluster = u32(96);
    }

    [[nodiscard]] bool isValid() const { return m_valid; }

    // Names in a folder given as a path of names below the root, in on-disk order.
    [[nodiscard]] QStringList entries(const QStringList &folderPath) const
    {
        QByteArray dir = chain(m_rootCluster, false, -1);
        for (const QString &name : folderPath) {
            bool found = false;
            for (const Entry &e : parse(dir)) {
                if (e.name == name) {
                    dir = chain(e.firstCluster, e.noFatChain, e.length);
                    found = true;
                    break;
                }
            }
            if (!found)
                return {};
        }
        QStringList names;
        for (const Entry &e : parse(dir))
            names += e.name;
        return names;
    }

private:
    struct Entry
    {
        QString name;
        quint32 firstCluster;
        bool noFatChain;
        qint64 length;
    };

    [[nodiscard]] quint32 u32(qint64 at) const
    {
        return qFromLittleEndian<quint32>(m_bytes.constData() + at);
    }

    [[nodiscard]] QByteArray chain(quint32 cluster, bool contiguous, qint64 length) const
    {
        QByteArray data;
        for (int guard = 0; cluster >= 2 && cluster < 0xfffffff7 && guard < 4096; ++guard) {
            const qint64 at = m_heapOffset + (cluster - 2) * m_clusterBytes;
            if (at + m_clusterBytes > m_bytes.size())
                break;
            data += m_bytes.mid(at, m_clusterBytes);
            if (length >= 0 && data.size() >= length)
                return data.left(length);
            cluster = contiguous ? cluster + 1 : u32(m_fatOffset + qint64(cluster) * 4);
        }
        return data;
    }

    [[nodiscard]] QList<Entry> parse(const QByteArray &dir) const
    {
        QList<Entry> list;
        for (qint64 at = 0; at + 32 <= dir.size(); at += 32) {
            const auto type = quint8(dir.at(at));
            if (type == 0x00)
                break;
            if (type != 0x85)
                continue;
            const int secondary = quint8(dir.at(at + 1));
            const qint64 stream = at + 32;
            if (stream + 32 > dir.size() || quint8(dir.at(stream)) != 0xc0)
                continue;
            Entry e;
            e.noFatChain = dir.at(stream + 1) & 0x02;
            const int nameLength = quint8(dir.at(stream + 3));
            e.firstCluster = qFromLittleEndian<quint32>(dir.constData() + stream + 20);
            e.length = qint64(qFromLittleEndian<quint64>(dir.constData() + stream + 24));
            for (int k = 2; k <= secondary && e.name.size() < nameLength; ++k) {
                const qint64 part = at + 32 * k;
                for (int c = 0; c < 15 && e.name.size() < nameLength; ++c)
                    e.name += QChar(qFromLittleEndian<quint16>(dir.constData() + part + 2 + 2 * c));
            }
            list.append(e);
            at += 32 * secondary;
        }
        return list;
    }

    QByteArray m_bytes;
    bool m_valid = false;
    qint64 m_sectorBytes = 512;
    qint64 m_clusterBytes = 4096;
    qint64 m_fatOffset = 0;
    qint64 m_heapOffset = 0;
    quint32 m_rootCluster = 0;
};
