#include "platform/storage/settingsfile.h"

#include "platform/storage/replacefile.h"
#include "platform/storage/systemreason.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cerrno>

using namespace Qt::StringLiterals;

namespace {

// The reading rule needs only the first line; a stray huge file is not read whole.
constexpr qint64 MaxRead = 64 * 1024;

QString valueOfFirstLine(QStringView line)
{
    if (line.startsWith(u'"')) {
        const QStringView rest = line.mid(1);
        const qsizetype close = rest.indexOf(u'"');
        return (close < 0 ? rest : rest.left(close)).toString();
    }
    qsizetype start = 0;
    while (start < line.size() && (line[start] == u' ' || line[start] == u'\t'))
        ++start;
    QStringView rest = line.mid(start);
    const qsizetype comma = rest.indexOf(u',');
    if (comma >= 0)
        rest = rest.left(comma);
    return rest.trimmed().toString();
}

} // namespace

bool SettingsFile::isPresent(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile() && !info.isHidden() && info.fileName().size() >= 2;
}

QString SettingsFile::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(MaxRead);
    QStringDecoder decoder(QStringDecoder::System, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError() || text.contains(QChar(0)))
        return {};
    qsizetype end = text.indexOf(u'\n');
    QStringView line = QStringView(text).left(end < 0 ? text.size() : end);
    if (line.endsWith(u'\r'))
        line.chop(1);
    return valueOfFirstLine(line);
}

QByteArray SettingsFile::encode(const QString &value)
{
    QStringEncoder encoder(QStringEncoder::System);
    QByteArray bytes = "\"";
    bytes += QByteArray(encoder.encode(value));
    bytes += "\"\r\n";
    return bytes;
}

std::optional<QString> SettingsFile::write(const QString &path, const QString &value)
{
    // The encoder puts a stand-in for what the encoding cannot hold (a character outside code
    // page 932 on a Japanese Windows); the folder read back would then not exist. Such a value
    // is refused, and the file keeps what it had.
    QStringEncoder encoder(QStringEncoder::System, QStringEncoder::Flag::Stateless);
    const QByteArray bytes = encoder.encode(value);
    if (encoder.hasError() || QStringDecoder(QStringDecoder::System).decode(bytes) != value)
        return u"この名前には、システムの文字コードで保存できない文字が含まれています"_s;
    return replaceFile(path, encode(value));
}
