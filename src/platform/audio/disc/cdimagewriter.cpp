#include "platform/audio/disc/cdimagewriter.h"

#include "platform/audio/ordereddecodes.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::StringLiterals;

QString CdImageWriter::binPathFor(const QString &cuePath)
{
    const QFileInfo cue(cuePath);
    const QString base = cue.suffix().compare(u"cue"_s, Qt::CaseInsensitive) == 0 ? cue.completeBaseName() : cue.fileName();
    // Named as the sheet can name it: a burning program looks for exactly that file.
    return cue.dir().filePath(cueWords(base) + u".bin"_s);
}

namespace {

// Silence in whole blocks, so a long gap is a few writes.
bool writeSilence(QSaveFile &file, qint64 bytes)
{
    static const QByteArray zeros(64 * CdLayout::BytesPerSector, '\0');
    while (bytes > 0) {
        const qint64 n = qMin<qint64>(bytes, zeros.size());
        if (file.write(zeros.constData(), n) != n)
            return false;
        bytes -= n;
    }
    return true;
}

QString writeFailure(const QSaveFile &file)
{
    return u"イメージを書き込めません（%1）"_s.arg(file.errorString());
}

} // namespace

CdImageWriter::Result CdImageWriter::write(const Request &request, const Progress &progress, const Cancelled &cancelled)
{
    Result result;
    const auto failed = [&](int song, const QString &reason) {
        result.outcome = Result::Outcome::Failed;
        result.failedSong = song;
        result.reason = reason;
        return result;
    };
    if (request.paths.size() > CdLayout::MaxTracks)
        return failed(-1, u"曲が多すぎます"_s);

    QSaveFile bin(binPathFor(request.cuePath));
    // Replacing an older image is the user's choice, made before this runs.
    bin.setDirectWriteFallback(false);
    if (!bin.open(QIODevice::WriteOnly))
        return failed(-1, writeFailure(bin));

    OrderedDecodes decodes(request.paths, AudioDecoder::Output{ int(CdLayout::SampleRate), true }, request.gains, 0,
                           request.edits);
    const qint64 gapBytes = qMax(0, request.gapSeconds) * CdLayout::SectorsPerSecond * CdLayout::BytesPerSector;
    const qint64 total = qMax<qint64>(request.expectedBytes, 1);
    qint64 written = 0;
    QList<qint64> frames;
    QByteArray block;
    for (int song = 0; song < request.paths.size(); ++song) {
        if (progress)
            progress(song, written, qMax(total, written));
        if (song > 0 && gapBytes > 0) {
            if (!writeSilence(bin, gapBytes))
                return failed(-1, writeFailure(bin));
            written += gapBytes;
        }
        qint64 songBytes = 0;
        for (;;) {
            if (cancelled && cancelled()) {
                result.outcome = Result::Outcome::Cancelled;
                return result;
            }
            QString reason;
            const OrderedDecodes::Take taken = decodes.take(song, block, &reason);
            if (taken == OrderedDecodes::Take::End)
                break;
            if (taken == OrderedDecodes::Take::Failed)
                return failed(song, reason);
            if (bin.write(block) != block.size())
                return failed(-1, writeFailure(bin));
            songBytes += block.size();
            written += block.size();
            if (progress)
                progress(song, written, qMax(total, written));
        }
        const qint64 songFrames = songBytes / 4;
        frames.append(songFrames);
        // The track ends on a whole sector and lasts at least four seconds.
        const CdLayout one = CdLayout::plan({ songFrames }, 0);
        const qint64 padding = one.imageBytes() - songBytes;
        if (!writeSilence(bin, padding))
            return failed(-1, writeFailure(bin));
        written += padding;
    }

    result.layout = CdLayout::plan(frames, request.gapSeconds);
    // The songs were checked against the disc by their stated lengths; what
    // was decoded is what counts.
    if (result.layout.sectorsLeft(request.capacitySectors) < 0)
        return failed(-1, u"CD に収まりません（%1）"_s.arg(CdLayout::msf(result.layout.discSectors())));
    Q_ASSERT(result.layout.imageBytes() == written);

    QSaveFile cue(request.cuePath);
    cue.setDirectWriteFallback(false);
    const QByteArray cueBytes = cueSheet(result.layout, request.text, QFileInfo(bin.fileName()).fileName()).toUtf8();
    if (!cue.open(QIODevice::WriteOnly) || cue.write(cueBytes) != cueBytes.size())
        return failed(-1, writeFailure(cue));
    if (cancelled && cancelled()) {
        result.outcome = Result::Outcome::Cancelled;
        return result;
    }
    if (!bin.commit())
        return failed(-1, writeFailure(bin));
    if (!cue.commit()) {
        // A .bin without its .cue is no image.
        QFile::remove(bin.fileName());
        return failed(-1, writeFailure(cue));
    }
    if (progress)
        progress(int(request.paths.size()) - 1, written, written);
    return result;
}
