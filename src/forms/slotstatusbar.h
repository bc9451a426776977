#pragma once

#include <QStatusBar>

#include <optional>

class QLabel;
class QLineEdit;
class QSpinBox;
struct SlotFigures;

// The status bar under the client area: the set list's songs and total, the
// slot a venue gives (持ち時間) and the pause between songs (曲間) as the user
// sets them, and the time left in the slot, or how far the set runs over, in red.
class SlotStatusBar : public QStatusBar
{
    Q_OBJECT

public:
    explicit SlotStatusBar(QWidget *parent = nullptr);

    // The slot as "hh:mm:ss"; none while the editor is empty or unreadable.
    [[nodiscard]] std::optional<qint64> slotSeconds() const;
    [[nodiscard]] int pauseSeconds() const;
    // Fills the editors without counting as the user's edit. A slot text that is
    // no length leaves the slot as it was.
    void setSlot(std::optional<qint64> seconds);
    void setPauseSeconds(int seconds);

    // Shows the songs, the total and what is left, from the set list's figures
    // with this bar's slot and pause.
    void showFigures(SlotFigures figures);

    static constexpr int MaxPauseSeconds = 3600;

Q_SIGNALS:
    // The user changed the slot or the pause.
    void slotEdited();

private:
    void refresh();

    QLabel *m_songs = nullptr;
    QLabel *m_total = nullptr;
    QLineEdit *m_slot = nullptr;
    QSpinBox *m_pause = nullptr;
    QLabel *m_left = nullptr;
    int m_songCount = 0;
    qint64 m_totalSeconds = 0;
};
