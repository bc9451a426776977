#pragma once

#include <QStringList>

class QTextStream;

// The program without its window, for bands that script their shows:
//   korvanda --cd-image OUT.cue [--gap SECONDS] [--match-levels] SET.m3u8
// writes the audio CD image of a saved set list, and
//   korvanda --export OUTBASE [--format copy|mp3|wav] [--match-levels] SET.m3u8
// exports it into OUTBASE/<set name> as the window's export does; either with
// the songs brought to one level when asked. Refusals are the window's own
// messages; nothing is written when there is one. --help prints the usage of
// every command and --version the version, both without the window.
class CommandLine
{
public:
    // Whether the arguments (without the program's name) ask for work
    // without the window.
    [[nodiscard]] static bool isCommand(const QStringList &arguments);

    // Does the work; the exit status: 0 when written, 1 when refused or
    // failed, 2 for arguments it cannot read, 128 and the signal's number
    // when Ctrl+C or SIGTERM stopped it (the song or the image being written
    // removed, the songs already exported kept).
    static int run(const QStringList &arguments, QTextStream &out, QTextStream &err);
};
