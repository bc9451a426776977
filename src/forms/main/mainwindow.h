#pragma once

#include "forms/main/form1.h"
#include "model/exportformat.h"
#include "model/levelmatch.h"
#include "model/loudness.h"
#include "platform/desktop/stagesheetdialogs.h"

#include <QHash>
#include <QMainWindow>
#include <QStringList>

#include <memory>
#include <optional>

class CdImageDialog;
class LoudnessCellDelegate;
class LoudnessService;
class DiscWriter;
class QAction;
class QLabel;
class QMenu;
class QProgressDialog;
class QTimer;
class QToolBar;
class PreviewController;
class ShowController;
class SongEditsController;
class SetListDialog;
class SetListFile;
class SlotStatusBar;
class StageSheet;

// The program's top-level window: Form1 as its client area, unchanged, with a
// menu bar around it. The menus run Form1's own handlers; what this window adds
// is keeping set lists in M3U8 files (save, open, the recent list) and asking
// before unsaved changes are thrown away.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow(const Form1Services &services, SetListDialog *fileDialog, QWidget *parent = nullptr);
    ~MainWindow() override;

    [[nodiscard]] Form1 *form() const { return m_form; }
    // The file the set list was opened from or saved to; empty when none.
    [[nodiscard]] QString currentFile() const { return m_file; }
    [[nodiscard]] QStringList recentFiles() const { return m_recent; }
    // The show, once placed (it needs a player).
    [[nodiscard]] ShowController *showController() const { return m_show; }
    [[nodiscard]] SongEditsController *editsController() const { return m_edits; }

    // Opens a set-list file in place of the set list, without asking about the
    // current one (callers ask first). False when nothing was opened; the set
    // list is then as it was.
    bool openSetList(const QString &path);

    // Tests script the print dialog and the PDF name through these.
    void setStageSheetDialogs(StageSheetDialogs *dialogs) { m_sheetDialogs = dialogs; }
    // The audio CD's image name and the CD writer; the system's own when not set.
    void setCdImageDialog(CdImageDialog *dialog) { m_cdDialog = dialog; }
    void setDiscWriter(DiscWriter *writer) { m_discWriter = writer; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // One function per menu, so that more entries join where they belong.
    void createFileMenu();
    void createEditMenu();
    void createHelpMenu();
    QAction *addEntry(QMenu *menu, const QString &text, const QKeySequence &shortcut = {});

    void newSetList();
    void chooseAndOpen();
    void openRecent(const QString &path);
    bool save();
    bool saveAs();
    bool writeTo(const QString &path);
    void showAbout();

    // mainwindow_sheet.cpp: the slot in the status bar, the stage sheet.
    void createSlotBar();
    [[nodiscard]] static QString slotAndSheetHelp();
    void addSheetEntries(QMenu *menu);
    void showSlotFigures();
    void rememberSlot();
    void takeSlotFrom(const SetListFile &file);
    void putSlotInto(SetListFile &file) const;
    [[nodiscard]] std::optional<StageSheet> stageSheet();
    // The 進行表 of the set as it stands.
    [[nodiscard]] QString cueSheet(const QList<SetListEntry> &entries) const;
    // After an export: the 進行表 in its folder, when the set has cues.
    void writeCueSheet(const ExportPlan &plan);
    void printSheet();
    void exportPdf();

    // mainwindow_cd.cpp: the audio CD, its options and whether the set fits.
    void addCdEntries(QMenu *menu);
    void makeAudioCd();
    void showCdFit();
    [[nodiscard]] int cdGapSeconds() const;
    DiscWriter &discWriter();

    // mainwindow_loudness.cpp: each song's loudness, the set's spread, and
    // the gains that bring an audio CD's songs to one level.
    void createLoudness(QMenu *options);
    void measureSetList();
    void showLoudness();
    // The linear gain per song (empty when the option is off); nothing when the
    // user cancels in `progress` or stops at the songs that may not reach the
    // target. Songs not measured yet are waited for in `progress`.
    [[nodiscard]] std::optional<QList<float>> matchedGains(const QStringList &paths, const QStringList &titles,
                                                           QProgressDialog *progress);
    // The show's gain per song file when the songs are to be at one level
    // (empty when the option is off), as the export would bring them; nothing
    // when the user cancels waiting for the measurements.
    [[nodiscard]] std::optional<QHash<QString, float>> showGains(const QStringList &paths);
    // The level plan and each song's loudness, whether or not the option is on.
    struct MatchedLevels {
        LevelMatch::Plan plan;
        QList<std::optional<Loudness>> levels;
    };
    [[nodiscard]] std::optional<MatchedLevels> matchedLevels(const QStringList &paths, const QStringList &titles,
                                                             QProgressDialog *progress);
    // Each song's level as the background measures it, waiting for the songs
    // under way (and starting those not asked for yet, or changed since) with
    // the songs left in `progress`; nothing when it is cancelled or the
    // program ends meanwhile.
    [[nodiscard]] std::optional<QList<std::optional<Loudness>>> measuredLevels(const QStringList &paths,
                                                                               QProgressDialog *progress);
    // mainwindow_export.cpp: the export's format for the venue's player and
    // its songs at one level.
    void createExportOptions(QMenu *menu);
    [[nodiscard]] ExportFormat::Format exportFormat() const;
    void showExportOptions();
    bool shapeExport(ExportPlan &plan);

    // The preview's menu, bar and run-through clock, placed in the window.
    void placePreview();
    // The show's menu (本番モード), placed in the window.
    void placeShow();
    // The song edits' entries in the edit menu.
    void placeEdits();

    // The unsaved-changes question; false when the user cancels (or saving fails).
    bool maySetListGo();
    void remember(const QString &path);
    void rebuildRecentMenu();
    void updateActions();
    void updateTitle();
    void setModified(bool modified);

    Form1 *m_form = nullptr;
    Form1Services m_services;
    SetListDialog *m_fileDialog = nullptr;
    QString m_recentStore;

    QString m_file;
    bool m_modified = false;
    // Opened with songs left out: saving over the file would drop them, so a
    // save goes through the file dialog.
    bool m_incomplete = false;
    bool m_leaving = false;
    SlotStatusBar *m_slotBar = nullptr;
    std::unique_ptr<StageSheetDialogs> m_systemSheetDialogs;
    StageSheetDialogs *m_sheetDialogs = nullptr;
    QStringList m_recent;
    std::unique_ptr<CdImageDialog> m_systemCdDialog;
    CdImageDialog *m_cdDialog = nullptr;
    std::unique_ptr<DiscWriter> m_systemDiscWriter;
    DiscWriter *m_discWriter = nullptr;
    QAction *m_cdAction = nullptr;
    QAction *m_cdNoGapAction = nullptr;
    QAction *m_cdTestAction = nullptr;
    QLabel *m_cdFit = nullptr;
    LoudnessService *m_loudness = nullptr;
    LoudnessCellDelegate *m_loudnessDelegate = nullptr;
    QLabel *m_loudnessLabel = nullptr;
    QAction *m_matchAction = nullptr;
    QList<std::pair<QAction *, ExportFormat::Format>> m_formatActions;
    QLabel *m_exportLabel = nullptr;
    QToolBar *m_exportBar = nullptr;

    QMenu *m_fileMenu = nullptr;
    QMenu *m_editMenu = nullptr;
    QMenu *m_helpMenu = nullptr;
    QMenu *m_recentMenu = nullptr;
    QAction *m_newAction = nullptr;
    QAction *m_openAction = nullptr;
    QAction *m_saveAction = nullptr;
    QAction *m_saveAsAction = nullptr;
    QAction *m_quitAction = nullptr;
    QList<std::pair<QAction *, Form1::Action>> m_formActions;

    PreviewController *m_preview = nullptr;
    ShowController *m_show = nullptr;
    SongEditsController *m_edits = nullptr;
};
