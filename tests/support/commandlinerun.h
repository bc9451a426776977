#pragma once

#include "cli/commandline.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

// The program's command line run in the test's own process (which links the
// command line's library), with what it printed kept.
struct CommandLineRun
{
    int status = -1;
    QString out, err;

    [[nodiscard]] static CommandLineRun of(const QStringList &arguments)
    {
        CommandLineRun run;
        QTextStream out(&run.out), err(&run.err);
        run.status = CommandLine::run(arguments, out, err);
        return run;
    }
};
