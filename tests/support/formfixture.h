#pragma once

// The main window with scripted message boxes and folder dialog, its settings in
// a temporary folder of its own. Tests find its controls by object name, as a
// user finds them by caption.

#include "forms/application.h"
#include "forms/main/form1.h"
#include "forms/songgrid.h"
#include "model/songtable.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/showfoldersmodule.h"
#include "platform/media/mediaservice.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

inline void setCell(SongTable &t, int row, int col, const QString &text)
{
    t.setRow(row);
    t.setCol(col);
    t.setText(text);
}

// Records what the program said and answers questions from a script; an
// unscripted question gets No, the safe answer.
class ScriptedBoxes : public MessageBoxes
{
public:
    struct Shown
    {
        QString prompt;
        QString caption;
    };
    void inform(QWidget *, const QString &prompt, const QString &caption) override { shown.append({ prompt, caption }); }
    bool ask(QWidget *, const QString &prompt, const QString &caption) override
    {
        shown.append({ prompt, caption });
        return !answers.isEmpty() && answers.takeFirst();
    }
    [[nodiscard]] QString lastPrompt() const { return shown.isEmpty() ? QString() : shown.last().prompt; }
    [[nodiscard]] QString lastCaption() const { return shown.isEmpty() ? QString() : shown.last().caption; }

    QList<Shown> shown;
    QList<bool> answers;
};

// Returns a scripted choice (a null string is a cancel) and records how it was opened.
class ScriptedFolderDialog : public FolderDialog
{
public:
    QString chooseFolder(QWidget *, const QString &title, const QString &initial) override
    {
        opened.append({ title, initial });
        return choice;
    }
    QString choice;
    QList<std::pair<QString, QString>> opened;
};

struct FormFixture
{
    explicit FormFixture(const QString &appFolder = {}, MediaCommands *commands = nullptr)
        : folder(appFolder.isEmpty() ? settingsDir.path() : appFolder), commands(commands ? commands : &media)
    {
        restart();
    }
    void restart()
    {
        form.reset();
        form = std::make_unique<Form1>(Form1Services{ &boxes, &dialog, commands, folder });
    }

    template <typename T = QWidget> [[nodiscard]] T *widget(const QString &name) const
    {
        T *w = form->findChild<T *>(name);
        if (!w)
            qFatal("no control named %s", qPrintable(name));
        return w;
    }
    void click(const QString &button) const { widget<QPushButton>(button)->click(); }
    // Lists a folder into the library as the user does: type it, press the button.
    void scan(const QString &folder) const
    {
        edit(u"Text1"_s)->setText(folder);
        click(u"Command11"_s);
    }
    [[nodiscard]] QLineEdit *edit(const QString &name) const { return widget<QLineEdit>(name); }
    [[nodiscard]] QString text(const QString &name) const { return edit(name)->text(); }
    [[nodiscard]] SongTable &library() const { return form->MSHFlexGrid1(); }
    [[nodiscard]] SongTable &setList() const { return form->MSHFlexGrid2(); }

    // Puts songs into the library as a scan leaves them: number, name, path under /songs, length.
    void setLibrary(const QList<std::pair<QString, QString>> &namesAndLengths) const
    {
        SongTable &t = library();
        t.setRows(int(namesAndLengths.size()) + 1);
        for (int i = 0; i < namesAndLengths.size(); ++i) {
            const auto &[name, length] = namesAndLengths[i];
            const QStringList cells{ QString::number(i + 1), name, u"/songs/"_s + name, length };
            for (int c = 0; c < 4; ++c)
                setCell(t, i + 1, c, cells[c]);
        }
        t.setRow(1);
        t.setCol(1);
    }
    // Adds library rows to the set list with the add button.
    void add(std::initializer_list<int> rows) const
    {
        for (int r : rows) {
            library().setRow(r);
            click(u"Command2"_s);
        }
    }

    QTemporaryDir settingsDir;
    QString folder;
    ScriptedBoxes boxes;
    ScriptedFolderDialog dialog;
    MediaService media;
    MediaCommands *commands;
    std::unique_ptr<Form1> form;
};

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
        Application::setIdentity();                                                                          \
        QApplication app(argc, argv);                                                                        \
        Application::prepare(app);                                                                           \
        TestClass test;                                                                                      \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
