#pragma once

#include "forms/application.h"
#include "forms/form1.h"
#include "model/songtable.h"
#include "platform/media/mediaservice.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/showfoldersmodule.h"

#include <QList>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Message boxes that record what the program said and answer from a script.
class ScriptedBoxes : public MessageBoxes
{
public:
    struct Shown
    {
        QString prompt;
        QString caption;
        bool question = false;
    };

    void inform(QWidget *, const QString &prompt, const QString &caption) override
    {
        shown.append({ prompt, caption, false });
    }
    bool ask(QWidget *, const QString &prompt, const QString &caption) override
    {
        shown.append({ prompt, caption, true });
        // An unscripted question is a test fault: answer No, the safe answer.
        return answers.isEmpty() ? false : answers.takeFirst();
    }

    [[nodiscard]] QString lastPrompt() const { return shown.isEmpty() ? QString() : shown.last().prompt; }
    [[nodiscard]] QString lastCaption() const { return shown.isEmpty() ? QString() : shown.last().caption; }

    QList<Shown> shown;
    QList<bool> answers;
};

// A folder dialog that records how it was opened and returns a scripted choice
// (a null string is a cancel).
class ScriptedFolderDialog : public FolderDialog
{
public:
    QString chooseFolder(QWidget *, const QString &title, const QString &initial) override
    {
        titles << title;
        initials << initial;
        return choice;
    }

    QString choice;
    QStringList titles;
    QStringList initials;
};

// A main window with scripted boxes and dialog, keeping its settings in a
// temporary folder of its own.
struct FormFixture
{
    explicit FormFixture(const QString &appFolder = {})
        : folder(appFolder.isEmpty() ? settingsDir.path() : appFolder)
    {
        restart();
    }

    void restart()
    {
        form.reset();
        form = std::make_unique<Form1>(Form1Services{ &boxes, &dialog, &media, folder });
    }

    QTemporaryDir settingsDir;
    QString folder;
    ScriptedBoxes boxes;
    ScriptedFolderDialog dialog;
    MediaService media;
    std::unique_ptr<Form1> form;
};

// Puts rows into the library table the way a scan leaves them: number, name,
// the path under /songs, length.
inline void setLibraryRows(SongTable &library, const QList<std::pair<QString, QString>> &namesAndLengths)
{
    library.setRows(int(namesAndLengths.size()) + 1);
    for (int i = 0; i < namesAndLengths.size(); ++i) {
        const auto &[name, length] = namesAndLengths[i];
        const QStringList cells{ QString::number(i + 1), name, QStringLiteral("/songs/") + name, length };
        library.setRow(i + 1);
        for (int c = 0; c < 4; ++c) {
            library.setCol(c);
            library.setText(cells[c]);
        }
    }
    library.setRow(1);
    library.setCol(1);
}

// The texts of one column, data rows only.
inline QStringList columnTexts(const SongTable &table, int col)
{
    QStringList texts;
    for (int r = 1; r < table.Rows(); ++r)
        texts << table.textAt(r, col);
    return texts;
}

// Test mode keeps the per-user folders away from the real user's files.
#define KORVANDA_FORM_TEST_MAIN(TestClass)                                                                   \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        QStandardPaths::setTestModeEnabled(true);                                                            \
        selectMediaBackend();                                                                                \
        Application::setIdentity();                                                                          \
        QApplication app(argc, argv);                                                                        \
        Application::prepare(app);                                                                           \
        TestClass test;                                                                                      \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
