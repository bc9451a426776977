#pragma once

class QApplication;
class QObject;

// Application-wide set-up shared by the program and its window tests: the
// Japanese font substitutes, Qt's own Japanese texts for standard dialogs, and
// the names under which the settings folder is found.
namespace Application {

void setIdentity();
void prepare(QApplication &app);
// The program asked to end by the system (SIGTERM at logout) or by Ctrl+C in
// a terminal ends the way a cancel ends the work under way, then exits with
// 128 plus the signal's number: every event loop running ends, so an export
// is abandoned as a closing program abandons it (the song being written
// removed) and a CD image is not left. Watches while `owner` lives.
void endOnStopSignal(QObject *owner);

} // namespace Application
