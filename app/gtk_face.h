// The GTK window, one of the two faces of the main window (the other is the
// console mode). Runs on the calling thread, which becomes the window thread.
#ifndef REZ_APP_GTK_FACE_H_
#define REZ_APP_GTK_FACE_H_

// Loads the main window from its stored layout, runs the created event, the
// main loop until the window is closed (the about-to-be-destroyed event runs
// onMainWindowDestroying) and returns the process's exit status (0). Called
// between startProcess() and endProcess().
int runGtkFace(int argc, char** argv);

#endif  // REZ_APP_GTK_FACE_H_
