#pragma once

class QApplication;

// Application-wide set-up shared by the program and its window tests: the
// Japanese font substitutes, Qt's own Japanese texts for standard dialogs, and
// the names under which the settings folder is found.
namespace Application {

void setIdentity();
void prepare(QApplication &app);

} // namespace Application
