#pragma once

#include "platform/audio/disc/discwriter.h"

#include <QByteArray>

// The CD writer through libburn: session-at-once audio with CD-TEXT.
class LibburnDiscWriter : public DiscWriter
{
public:
    LibburnDiscWriter();
    ~LibburnDiscWriter() override;
    LibburnDiscWriter(const LibburnDiscWriter &) = delete;
    LibburnDiscWriter &operator=(const LibburnDiscWriter &) = delete;

    [[nodiscard]] std::optional<Drive> findDrive() override;
    [[nodiscard]] Outcome burn(const QString &binPath, const CdLayout &layout, const CdText &text, bool testFirst,
                               const std::function<void(double)> &progress,
                               const std::function<bool()> &cancelled) override;

    // The CD-TEXT packs (18 bytes each) libburn writes into the lead-in for
    // this set, built without a drive: block 0 in MS-JIS (CP932 bytes) when
    // any word needs Japanese, with a Latin-1 block beside it; otherwise one
    // Latin-1 block. Empty when libburn refuses the words.
    [[nodiscard]] static QByteArray cdTextPacks(const CdLayout &layout, const CdText &text);

    // How far a burn is, 0..1 over the whole disc, from libburn's figures for
    // the track being written (its index, its sectors done and its sectors).
    [[nodiscard]] static double discFraction(const CdLayout &layout, int track, int sector, int sectors);

    // What the tracks' sources hand the drive, all tracks of a pass joined,
    // for each of `passes` passes over the image (a test write, then the
    // real one) as a burn sets them up; read without a drive.
    [[nodiscard]] static QList<QByteArray> passBytes(const QString &binPath, const CdLayout &layout, int passes);

private:
    bool m_initialized = false;
};
