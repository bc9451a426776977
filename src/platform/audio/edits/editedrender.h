#pragma once

#include "model/songedits.h"
#include "platform/audio/audiodecoder.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>
#include <utility>

// A song as its edits deliver it, for the export and the CD: the kept ranges
// read in one pass from the start of the file (no seek, so every cut lands on
// its sample in every format), joined with their crossfades and faded, then,
// when the key or the tempo changes, stretched with the finer offline engine.
// The joining comes first and the stretch second, as the edit plan lays the
// fades out in the song's own time: the stretched song then lasts exactly the
// plan's output frames, which is what the set list shows.
class EditedRender
{
public:
    // Opens the song and lays the edits out on its exact length (decoded and
    // counted where the container's stated length could be off by a frame).
    // Nothing on failure, with the reason worded for the user.
    [[nodiscard]] static std::optional<EditedRender> open(const QString &path, const SongEdits &edits,
                                                          AudioDecoder::Output output, QString *reason);

    [[nodiscard]] int rate() const { return m_rate; }
    [[nodiscard]] int channels() const { return m_channels; }
    [[nodiscard]] unsigned long long sourceChannelMask() const { return m_mask; }
    [[nodiscard]] const AudioDecoder::Stored &stored() const { return m_stored; }
    [[nodiscard]] const QList<std::pair<QByteArray, QByteArray>> &tags() const { return m_tags; }
    [[nodiscard]] const QString &artist() const { return m_artist; }
    [[nodiscard]] const EditPlan &plan() const { return *m_plan; }
    // What run() delivers: the plan's output frames.
    [[nodiscard]] qint64 frames() const { return m_plan->outputFrames(); }

    // Delivers the edited song, exactly frames() long. False on a decoding
    // error (the reason set), when the consumer stopped it or `abort` was
    // set (the reason empty).
    bool run(const AudioDecoder::Consumer &consumer, const std::atomic_bool *abort, QString *reason) const;

private:
    EditedRender() = default;
    // One pass of the joined song, padded with silence to its planned length.
    bool joinedPass(const AudioDecoder::Consumer &consumer, const std::atomic_bool *abort, QString *reason) const;

    QString m_path;
    AudioDecoder::Output m_output;
    int m_rate = 0;
    int m_channels = 0;
    unsigned long long m_mask = 0;
    AudioDecoder::Stored m_stored;
    QList<std::pair<QByteArray, QByteArray>> m_tags;
    QString m_artist;
    std::shared_ptr<EditPlan> m_plan;
};
