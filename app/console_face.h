// The console face of the main window (rez-udo-server --headless): it acts as
// if the window had opened and the start button had been pressed with the
// given text in the port box, writes every status caption to standard output
// as a UTF-8 line, and on SIGINT or SIGTERM runs the about-to-be-destroyed
// sequence. Runs on the calling thread, which becomes the window thread.
#ifndef REZ_APP_CONSOLE_FACE_H_
#define REZ_APP_CONSOLE_FACE_H_

#include "text/text.h"

// Blocks SIGINT and SIGTERM for the calling thread and every thread created
// after it, so that they reach only the face's wait. Call before any thread
// exists.
void blockStopSignals();

// Runs the face between startProcess() and endProcess(). `portText` is the
// port box's text (code page 936). Returns the process's exit status: 1 when
// the start failed, 0 after a stop signal.
int runConsoleFace(const Text& portText);

#endif  // REZ_APP_CONSOLE_FACE_H_
