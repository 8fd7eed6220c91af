// The main window's interface and its logic. The window has two faces: the
// GTK window and the console mode (--headless). A face shows the controls and
// forwards the events; everything the window does (start the service, write
// the status caption, initialise the engine, stop the service) is here, once,
// for both faces. Everything here runs on the window thread.
#ifndef REZ_APP_MAIN_WINDOW_H_
#define REZ_APP_MAIN_WINDOW_H_

#include "text/text.h"

// What the logic needs of a face: the port box's text and the status label.
// Texts are in code page 936; the face converts for display.
class MainWindowFace {
 public:
  virtual ~MainWindowFace() = default;
  virtual Text portText() = 0;
  virtual void setStatusCaption(const Text& caption) = 0;
};

// The window's created event: the engine's init once, then the themed look
// (`applyTheme` is the face's; the console face has none).
void onMainWindowCreated(void (*applyTheme)());
// The start button: startService on "0.0.0.0" and the port box's number, then
// the status caption. Returns whether the service started (the console face
// exits 1 on false).
bool onStartClicked(MainWindowFace& face);
// The window's about-to-be-destroyed event: stopService.
void onMainWindowDestroying();

// The status captions, exactly as the window shows them.
Text statusIdleCaption();                     // 服务状态：未开启
Text statusStartedCaption(const Text& port);  // 服务状态：启动成功，端口：<port>
Text statusFailedCaption(const Text& error);  // 服务状态：启动失败,<error>

#endif  // REZ_APP_MAIN_WINDOW_H_
