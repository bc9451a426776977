#include "platform/audio/disc/libburndiscwriter.h"

#include <QFile>
#include <QStringEncoder>
#include <QThread>

#include <libburn/libburn.h>

// libburn declares itself in a namespace of its own when read as C++.
using namespace burn;

#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

constexpr int TitlePack = 0x80;
constexpr int PerformerPack = 0x81;
constexpr int MsJis = 0x80;
constexpr int Latin1 = 0x00;
constexpr int Japanese = 0x69;
constexpr int English = 0x09;

bool needsJapanese(const CdText &text)
{
    QStringList words = text.trackTitles + text.trackPerformers;
    words << text.title << text.performer;
    for (const QString &word : words)
        for (const QChar c : word)
            if (c.unicode() > 0xFF)
                return true;
    return false;
}

QByteArray cp932(const QString &text)
{
    for (const char *name : { "windows-31j", "cp932", "Shift_JIS" }) {
        QStringEncoder encoder(name);
        if (encoder.isValid())
            return encoder.encode(text);
    }
    return {};
}

// Latin-1 bytes, or nothing for words that have no Latin-1 form.
QByteArray latin1(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() > 0xFF)
            return {};
    return text.toLatin1();
}

// One attribute: the words, ended by one zero (two for double-byte text).
bool setText(burn_session *session, burn_track *track, int block, int pack, QByteArray bytes,
             bool doubleByte)
{
    bytes.append('\0');
    if (doubleByte)
        bytes.append('\0');
    auto *payload = reinterpret_cast<unsigned char *>(bytes.data());
    const int flag = doubleByte ? 1 : 0;
    return (track ? burn_track_set_cdtext(track, block, pack, nullptr, payload, int(bytes.size()), flag)
                  : burn_session_set_cdtext(session, block, pack, nullptr, payload, int(bytes.size()), flag))
        > 0;
}

bool describe(burn_session *session, const QList<burn_track *> &tracks, const CdText &text)
{
    const bool japanese = needsJapanese(text);
    int codes[8] = { japanese ? MsJis : Latin1, Latin1, 0, 0, 0, 0, 0, 0 };
    int copyrights[8] = {};
    int languages[8] = { japanese ? Japanese : English, English, 0, 0, 0, 0, 0, 0 };
    if (burn_session_set_cdtext_par(session, codes, copyrights, languages, 0) <= 0)
        return false;
    const int blocks = japanese ? 2 : 1;
    for (int block = 0; block < blocks; ++block) {
        const bool jis = japanese && block == 0;
        const auto bytes = [jis](const QString &words) { return jis ? cp932(words) : latin1(words); };
        bool ok = setText(session, nullptr, block, TitlePack, bytes(text.title), jis)
            && setText(session, nullptr, block, PerformerPack, bytes(text.performer), jis);
        for (qsizetype i = 0; ok && i < tracks.size(); ++i)
            ok = setText(session, tracks[i], block, TitlePack, bytes(text.trackTitles.value(i)), jis)
                && setText(session, tracks[i], block, PerformerPack,
                           bytes(text.trackPerformers.value(i, text.performer)), jis);
        if (!ok)
            return false;
    }
    return true;
}

// A disc of audio tracks as libburn builds it; the tracks read the image
// when one is named, and nothing when only the words are wanted. libburn
// reads a source once, from its start to its end, and never goes back: each
// pass over the disc (a test write, then the real one) needs a session of its
// own, with the image opened anew.
struct Session
{
    burn_disc *disc = burn_disc_create();
    burn_session *session = burn_session_create();
    QList<burn_track *> tracks;
    QList<burn_source *> sources;
    burn_source *image = nullptr;

    Session(const CdLayout &layout, const QString &binPath)
    {
        if (!binPath.isEmpty())
            image = burn_file_source_new(QFile::encodeName(binPath).constData(), nullptr);
        burn_disc_add_session(disc, session, BURN_POS_END);
        for (qsizetype i = 0; i < layout.tracks.size(); ++i) {
            const CdTrack &cd = layout.tracks[i];
            burn_track *track = burn_track_create();
            burn_track_define_data(track, 0, 0, 1, BURN_AUDIO);
            // libburn writes the gap's silence itself, so the track reads
            // only its own sectors of the image.
            if (i > 0)
                burn_track_set_pregap_size(track, cd.pregapSectors > 0 ? int(cd.pregapSectors) : -1, 0);
            if (image) {
                burn_source *prev = sources.isEmpty() ? nullptr : sources.last();
                burn_source *part = burn_offst_source_new(image, prev, cd.startSector * CdLayout::BytesPerSector,
                                                                 cd.sectors * CdLayout::BytesPerSector, 0);
                if (part) {
                    burn_track_set_source(track, part);
                    sources.append(part);
                }
            }
            burn_session_add_track(session, track, BURN_POS_END);
            tracks.append(track);
        }
    }
    ~Session()
    {
        for (burn_source *source : std::as_const(sources))
            burn_source_free(source);
        if (image)
            burn_source_free(image);
        for (burn_track *track : std::as_const(tracks))
            burn_track_free(track);
        burn_session_free(session);
        burn_disc_free(disc);
    }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
};

} // namespace

std::unique_ptr<DiscWriter> DiscWriter::system()
{
    return std::make_unique<LibburnDiscWriter>();
}

bool DiscWriter::systemBurnsDiscs()
{
    return true;
}

LibburnDiscWriter::LibburnDiscWriter()
{
    m_initialized = burn_initialize() > 0;
    if (m_initialized)
        burn_msgs_set_severities(const_cast<char *>("NEVER"), const_cast<char *>("NEVER"), const_cast<char *>(""));
}

LibburnDiscWriter::~LibburnDiscWriter()
{
    if (m_initialized)
        burn_finish();
}

QByteArray LibburnDiscWriter::cdTextPacks(const CdLayout &layout, const CdText &text)
{
    if (burn_initialize() <= 0)
        return {};
    QByteArray packs;
    {
        Session s(layout, QString());
        unsigned char *bytes = nullptr;
        int count = 0;
        if (describe(s.session, s.tracks, text) && burn_cdtext_from_session(s.session, &bytes, &count, 0) > 0 && bytes)
            packs = QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(count) * 18);
        free(bytes);
    }
    return packs;
}

double LibburnDiscWriter::discFraction(const CdLayout &layout, int track, int sector, int sectors)
{
    if (layout.imageSectors <= 0 || track < 0)
        return 0.0;
    if (track >= layout.tracks.size())
        return 1.0;
    // The tracks before this one are done, gaps included; this one's share
    // (its gap and its audio) in the part libburn reports.
    const CdTrack &current = layout.tracks[track];
    const double part = sectors > 0 ? qBound(0.0, double(sector) / sectors, 1.0) : 0.0;
    const double done = double(current.gapStartSector()) + part * double(current.pregapSectors + current.sectors);
    return qBound(0.0, done / double(layout.imageSectors), 1.0);
}

QList<QByteArray> LibburnDiscWriter::passBytes(const QString &binPath, const CdLayout &layout, int passes)
{
    QList<QByteArray> read;
    if (burn_initialize() <= 0)
        return read;
    for (int pass = 0; pass < passes; ++pass) {
        Session s(layout, binPath);
        QByteArray bytes;
        unsigned char sector[CdLayout::BytesPerSector];
        for (burn_source *source : std::as_const(s.sources))
            for (;;) {
                const int got = source->read ? source->read(source, sector, int(sizeof sector))
                                             : source->read_xt(source, sector, int(sizeof sector));
                if (got <= 0)
                    break;
                bytes.append(reinterpret_cast<const char *>(sector), got);
            }
        read.append(bytes);
    }
    return read;
}

std::optional<DiscWriter::Drive> LibburnDiscWriter::findDrive()
{
    if (!m_initialized)
        return std::nullopt;
    burn_drive_info *infos = nullptr;
    unsigned int count = 0;
    if (burn_drive_scan(&infos, &count) <= 0 || !infos)
        return std::nullopt;
    std::optional<Drive> found;
    for (unsigned int i = 0; i < count && !found; ++i) {
        if (!infos[i].write_cdr)
            continue;
        Drive drive;
        drive.name = QString::fromLatin1(infos[i].vendor).trimmed() + u' ' + QString::fromLatin1(infos[i].product).trimmed();
        if (burn_drive_grab(infos[i].drive, 1) > 0) {
            drive.blankDisc = burn_disc_get_status(infos[i].drive) == BURN_DISC_BLANK;
            if (drive.blankDisc) {
                burn_write_opts *opts = burn_write_opts_new(infos[i].drive);
                burn_write_opts_set_write_type(opts, BURN_WRITE_SAO, BURN_BLOCK_SAO);
                drive.capacitySectors = qint64(burn_disc_available_space(infos[i].drive, opts)) / 2048;
                burn_write_opts_free(opts);
            }
            drive.canTestWrite = infos[i].write_simulate != 0;
            burn_drive_release(infos[i].drive, 0);
        }
        found = drive;
    }
    burn_drive_info_free(infos);
    return found;
}

DiscWriter::Outcome LibburnDiscWriter::burn(const QString &binPath, const CdLayout &layout, const CdText &text,
                                            bool testFirst, const std::function<void(double)> &progress,
                                            const std::function<bool()> &cancelled)
{
    Outcome outcome;
    burn_drive_info *infos = nullptr;
    unsigned int count = 0;
    if (!m_initialized || burn_drive_scan(&infos, &count) <= 0 || !infos) {
        outcome.reason = u"CD を書き込めるドライブが見つかりません"_s;
        return outcome;
    }
    burn_drive *drive = nullptr;
    for (unsigned int i = 0; i < count && !drive; ++i)
        if (infos[i].write_cdr && burn_drive_grab(infos[i].drive, 1) > 0)
            drive = infos[i].drive;
    if (!drive) {
        burn_drive_info_free(infos);
        outcome.reason = u"CD を書き込めるドライブが見つかりません"_s;
        return outcome;
    }
    // A test pass fills the first half of the bar, the real one the second.
    const int passes = testFirst ? 2 : 1;
    const auto runOnce = [&](bool simulate) -> QString {
        if (burn_disc_get_status(drive) != BURN_DISC_BLANK)
            return u"ドライブに空の CD-R がありません"_s;
        Session s(layout, binPath);
        if (!s.image)
            return u"イメージを読めません"_s;
        if (s.sources.size() != layout.tracks.size() || !describe(s.session, s.tracks, text))
            return u"書き込みの準備ができません"_s;
        const int pass = simulate || passes == 1 ? 0 : 1;
        burn_write_opts *opts = burn_write_opts_new(drive);
        burn_write_opts_set_write_type(opts, BURN_WRITE_SAO, BURN_BLOCK_SAO);
        burn_write_opts_set_underrun_proof(opts, 1);
        burn_write_opts_set_simulate(opts, simulate ? 1 : 0);
        burn_write_opts_set_perform_opc(opts, 1);
        burn_drive_set_speed(drive, 0, 0);
        burn_disc_write(opts, s.disc);
        burn_write_opts_free(opts);
        burn_progress p {};
        while (burn_drive_get_status(drive, &p) != BURN_DRIVE_IDLE) {
            if (cancelled && cancelled())
                burn_drive_cancel(drive);
            if (progress && p.sectors > 0)
                progress((pass + discFraction(layout, p.track, p.sector, p.sectors)) / passes);
            QThread::msleep(200);
        }
        if (cancelled && cancelled())
            return u"中止しました"_s;
        return burn_drive_wrote_well(drive) ? QString() : u"ディスクへの書き込みに失敗しました"_s;
    };
    QString failure;
    if (testFirst)
        failure = runOnce(true);
    if (failure.isEmpty())
        failure = runOnce(false);
    burn_drive_release(drive, 1);
    burn_drive_info_free(infos);
    outcome.ok = failure.isEmpty();
    outcome.reason = failure;
    return outcome;
}
