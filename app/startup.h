// The life of the process, shared by both faces of the main window: what
// exists before the window opens, and what is released at the end. The faces
// (console_face, gtk_face) run between the two calls; main.cc chooses one.
// Everything here runs on the window thread.
#ifndef REZ_APP_STARTUP_H_
#define REZ_APP_STARTUP_H_

// Start-up before the window: the program's directory becomes the current
// directory, the globals are created, the exit routine is registered (also
// with the fatal path), and the program's directory becomes the library
// directory.
void startProcess();

// The engine's init, once per process (the window's created event calls it).
void initOcrEngine();

// After the window's loop has ended: the exit routine (releaseGlobals), then
// the modules loaded for library entries. Runs once.
void endProcess();

#endif  // REZ_APP_STARTUP_H_
