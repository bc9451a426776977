#pragma once

#include "model/exportplan.h"
#include "model/songedits.h"
#include "model/setlistfile.h"
#include "model/setlistrow.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class Form2;
class FolderDialog;
class MediaCommands;
class MessageBoxes;
class PlaybackControl;
class SetListTextBox;
class SongGrid;
class SongTable;

// What the main window needs from the outside world. Tests pass scripted message
// boxes and folder dialogs and a folder of their own for the settings files.
struct Form1Services
{
    MessageBoxes *boxes = nullptr;
    FolderDialog *folderDialog = nullptr;
    MediaCommands *media = nullptr;
    // The folder of the settings files, ending with a separator; empty means the
    // program's own (see locateAppFolder).
    QString appFolder;
    // Where the preview is and where it sounds; none leaves the window without
    // a position, a run-through or a choice of device.
    PlaybackControl *playback = nullptr;
};

// The main window. Its controls keep their designer names as object names; each
// button runs one handler that does one whole user action, from its checks to
// its last message. The handlers are spread over files by concern:
// form1.cpp (controls and layout), form1_startup.cpp (start-up, stored folders,
// browse), form1_scan.cpp, form1_setlist.cpp, form1_preview.cpp,
// form1_export.cpp, form1_help.cpp (help and exit).
class Form1 : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(const Form1Services &services, QWidget *parent = nullptr);
    ~Form1() override;

    // The client area, 14355 x 9090 twips.
    static constexpr int ClientWidthTwips = 14355;
    static constexpr int ClientHeightTwips = 9090;

    [[nodiscard]] SongTable &MSHFlexGrid1() const { return *m_table1; }
    [[nodiscard]] SongTable &MSHFlexGrid2() const { return *m_table2; }
    [[nodiscard]] QString AppFolder() const { return m_appFolder; }
    [[nodiscard]] QPointer<Form2> helpWindow() const { return m_form2; }

    // Recomputes the set list's total time into Text6.
    void TimeCalc();

    // What the window around this one offers beside the buttons. Triggering an
    // action presses its button, so a disabled button keeps the action inert and
    // the messages are the button's own.
    enum class Action { AddSong, DeleteSong, MoveUp, MoveDown, Exit, Help };
    void trigger(Action action);
    [[nodiscard]] bool isAvailable(Action action) const;

    // The set list as a set-list file keeps it: full paths, titles as the set
    // list text gives them, lengths in whole seconds.
    [[nodiscard]] QList<SetListEntry> setListEntries() const;
    [[nodiscard]] QString setName() const;
    [[nodiscard]] QString libraryFolder() const;
    // The output base folder as Text2 holds it.
    [[nodiscard]] QString outputFolder() const;
    // Replaces the set list by these songs, each added as the add button adds
    // it, its length probed fresh; the set name goes into Text3. Returns false,
    // the set list untouched, when there are more songs than it can hold (the
    // add button's message is shown) or the probing is cancelled.
    // `extras`, when given, holds each song's edits, note and follow mark, in the
    // order of `paths`; an edited song shows its edited length.
    bool replaceSetList(const QStringList &paths, const QString &setName, const QList<SetListRowExtras> &extras = {});
    // Gives a set-list row these edits (the song's measured length in
    // `extras.songMs`): its length cell shows the edited length, the total
    // follows, and the set list counts as changed. Edits made now record the
    // song file as it is, to tell later when it has been replaced.
    void applyRowEdits(int row, SetListRowExtras extras);
    // The set list's grid, for what the window adds to it.
    [[nodiscard]] QWidget *setListView() const;
    // Back to the empty set list and set name of start-up.
    void clearSetList();
    // Asked after Yes to the exit question; false keeps the program running.
    void setLeaveCheck(std::function<bool()> check) { m_leaveCheck = std::move(check); }
    // Gives the export's songs their format and level before anything is
    // checked or created; false stops the export.
    void setExportShaper(std::function<bool(ExportPlan &)> shaper) { m_exportShaper = std::move(shaper); }
    // Called once an export has completed, before it says so.
    void setExportFinisher(std::function<void(const ExportPlan &)> finisher) { m_exportFinisher = std::move(finisher); }
    // The total time as Text6 shows it.
    [[nodiscard]] QString totalText() const;

    // The preview beside its two buttons (form1_preview.cpp). Every song plays
    // the way the play button plays one: its path in Text5, the play command,
    // the window locked until the stop button.
    // Plays the set list's current song; refused like the play button when the
    // row holds none.
    void playSetListSong();
    // Plays a song by its full path and locks the window; the play command's
    // result. With a set-list row, the song as that row's edits shape it.
    int playSong(const QString &path, int setListRow = 0);
    // Closes the song playing and leaves the window locked (between the songs
    // of a run-through).
    void closeSong();
    // The stop button.
    void stopPreview();
    [[nodiscard]] bool isPlaying() const { return m_playing; }
    // The path of the song playing or played last (Text5).
    [[nodiscard]] QString songPath() const;
    // Puts the set list's cursor on a row, where the grid shows it.
    void showSetListRow(int row);

Q_SIGNALS:
    // The user confirmed the exit question: the program ends now.
    void quitRequested();
    // The set list's songs or their order changed.
    void setListChanged();
    // The set name (Text3) was edited.
    void setNameChanged();
    // A button was enabled or disabled (playback locks some of them).
    void availabilityChanged();
    // A song was started, by a button or by playSong, with the edits it plays with.
    void songStarted(const SongEdits &edits);
    // The stop button was pressed.
    void previewStopped();

private:
    [[nodiscard]] static SongEdits::Stamp stampOf(const QString &path);

    // form1.cpp
    void createControls();
    void setUpTabOrderAndNames();
    void connectHandlers();
    void connectConveniences();

    // form1_startup.cpp
    void Form_Load();
    void setUpTable(SongTable &table);
    void loadSetting(const QString &fileName, QLineEdit *field);
    void rememberSetting(const QString &fileName, const QLineEdit *field);
    void browse(QLineEdit *field, const QString &prompt);
    void Command1_Click();
    void Command4_Click();
    void Command7_Click();
    void Command8_Click();
    void Command12_Click();
    void Command13_Click();

    // form1_scan.cpp
    void Command11_Click();
    void fillLibrary(const QStringList &names, const QStringList &paths, const QList<double> &lengths);

    // form1_setlist.cpp
    void Command2_Click();
    void Command3_Click();
    void Command5_Click();
    void Command6_Click();
    void renumberSetList();
    void moveSetListRow(int fromRow, int toRow);
    void moveUp();
    void moveDown();
    void addFromLibrary(int libraryRow, int toRow);
    [[nodiscard]] int setListSongs() const;

    // form1_preview.cpp
    void Command20_Click();
    void Command30_Click();
    void setPlaying(bool playing);

    // form1_export.cpp
    void Command9_Click();

    // form1_help.cpp
    void Command14_Click();
    void Command10_Click();

    Form1Services m_services;
    QString m_appFolder;
    QString m_dataFile;

    SongTable *m_table1 = nullptr;
    SongTable *m_table2 = nullptr;
    QPointer<Form2> m_form2;
    std::function<bool()> m_leaveCheck;
    std::function<bool(ExportPlan &)> m_exportShaper;
    std::function<void(const ExportPlan &)> m_exportFinisher;
    bool m_playing = false;

    // The controls, by their designer names, which are also their object names.
    SongGrid *Grid1 = nullptr;
    SongGrid *Grid2 = nullptr;
    QLineEdit *Text1 = nullptr;
    QLineEdit *Text2 = nullptr;
    QLineEdit *Text3 = nullptr;
    SetListTextBox *Text4 = nullptr;
    QLineEdit *Text5 = nullptr;
    QLineEdit *Text6 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command5 = nullptr;
    QPushButton *Command6 = nullptr;
    QPushButton *Command7 = nullptr;
    QPushButton *Command8 = nullptr;
    QPushButton *Command9 = nullptr;
    QPushButton *Command10 = nullptr;
    QPushButton *Command11 = nullptr;
    QPushButton *Command12 = nullptr;
    QPushButton *Command13 = nullptr;
    QPushButton *Command14 = nullptr;
    QPushButton *Command20 = nullptr;
    QPushButton *Command30 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label6 = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *Label9 = nullptr;
    QLabel *Label10 = nullptr;
};
