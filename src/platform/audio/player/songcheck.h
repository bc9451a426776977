#pragma once

#include "model/songedits.h"

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

// Before a show: every song decoded to its end, on a thread of its own at low
// priority, so that a song that breaks off or is not as long as the set list
// says is found before the audience hears it. Results arrive song by song.
class SongCheck : public QObject
{
    Q_OBJECT

public:
    struct Song
    {
        QString path;
        QString name;
        qint64 listedMs = 0; // 0: no length listed, none compared
        SongEdits edits;     // the row's: a change this build cannot play is named
    };
    // Further from the listed length than this, the song is not the one the
    // set was timed with (a shorter render, a file cut off in copying).
    static constexpr qint64 ToleranceMs = 1000;

    explicit SongCheck(QList<Song> songs, QObject *parent = nullptr);
    // Stops the decoding and waits for it.
    ~SongCheck() override;

    // Stops the decoding without waiting: the show has begun, and the songs it
    // plays need the processor more than a check nobody reads any more.
    void cancel() { m_stop->store(true); }

    [[nodiscard]] qsizetype total() const { return m_songs.size(); }
    [[nodiscard]] qsizetype checked() const { return m_checked; }
    [[nodiscard]] bool isDone() const { return m_checked == m_songs.size(); }
    // The problems found so far, worded for the performer.
    [[nodiscard]] QStringList problems() const { return m_problems; }

Q_SIGNALS:
    void progressed();

private:
    void report(const QString &problem);

    QList<Song> m_songs;
    qsizetype m_checked = 0;
    QStringList m_problems;
    std::shared_ptr<std::atomic<bool>> m_stop = std::make_shared<std::atomic<bool>>(false);
    struct Worker;
    std::unique_ptr<Worker> m_worker;
};
