#pragma once
// Message boxes of the core (start-up failures, a port that cannot be opened) as Qt message
// boxes. A box asked for by a worker thread is shown by the GUI thread while the worker waits
// for it to be closed; once the desktop is closing, such a worker is let go at once and its
// text goes to stderr instead, so shutdown never waits on a box nobody will show.

namespace revuzada {

// Needs the QApplication to exist until UninstallQtMessagePresenter().
void InstallQtMessagePresenter();

// Lets every waiting worker go and puts the plain stderr presenter back.
void UninstallQtMessagePresenter();

}  // namespace revuzada
