#pragma once

#include "forms/application.h"
#include "forms/form1.h"
#include "platform/mediaservice.h"
#include "platform/messageboxes.h"
#include "platform/showfoldersmodule.h"

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
