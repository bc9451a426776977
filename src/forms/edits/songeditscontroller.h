#pragma once

#include <QObject>

#include <functional>

class Form1;
class MediaCommands;
class MessageBoxes;
class PlaybackControl;
class QAction;
class QWidget;
class SlotStatusBar;
class SongEditsPanel;

// Editing the set list's songs: the panel for the current row (a key, a menu
// entry, a double-click on its length) and fitting the set to the slot. Owns
// its actions; the window places them.
class SongEditsController : public QObject
{
    Q_OBJECT

public:
    // `host` owns the actions, so that whatever blocks the window's input
    // blocks their keys too; `slot` gives the slot and the pause.
    SongEditsController(Form1 *form, PlaybackControl *playback, MessageBoxes *boxes, QWidget *host,
                        const SlotStatusBar *slot);

    [[nodiscard]] QAction *editAction() const { return m_edit; }
    [[nodiscard]] QAction *fitAction() const { return m_fit; }
    [[nodiscard]] QAction *fitSelectedAction() const { return m_fitSelected; }

    // Given each panel instead of running it, to drive it to OK or Cancel (tests).
    void setPanelHook(std::function<void(SongEditsPanel *)> hook) { m_hook = std::move(hook); }

    // Opens the panel for a set-list row; its edits go to the row on OK.
    void editRow(int row);
    // Proposes the fade that brings the set down to the slot on one row's song
    // (the set's last, or the one chosen), shown before it is applied.
    void fitSlot(int row);

private:
    void availabilityChanged();
    [[nodiscard]] int lastSongRow() const;

    Form1 *m_form;
    PlaybackControl *m_playback;
    MessageBoxes *m_boxes;
    QWidget *m_host;
    const SlotStatusBar *m_slot;
    QAction *m_edit = nullptr;
    QAction *m_fit = nullptr;
    QAction *m_fitSelected = nullptr;
    std::function<void(SongEditsPanel *)> m_hook;
};
