// The main window's logic, shared by its faces.
#include "app/main_window.h"

#include "app/startup.h"
#include "http/server_binding.h"
#include "text/text_ops.h"

void onMainWindowCreated(void (*applyTheme)()) {
  initOcrEngine();
  if (applyTheme != nullptr) applyTheme();
}

bool onStartClicked(MainWindowFace& face) {
  const int32_t port = textToInt(face.portText());
  Text errorText;
  if (startService(Text("0.0.0.0"), port, errorText)) {
    // The box's text read after the start, not the number used: "8888abc"
    // starts on 8888 and shows the whole text.
    face.setStatusCaption(statusStartedCaption(face.portText()));
    return true;
  }
  face.setStatusCaption(statusFailedCaption(errorText));
  return false;
}

void onMainWindowDestroying() { stopService(); }

Text statusIdleCaption() {
  return Text(
      "\xb7\xfe\xce\xf1\xd7\xb4\xcc\xac\xa3\xba\xce\xb4\xbf\xaa\xc6\xf4");  // 服务状态：未开启
}

Text statusStartedCaption(const Text& port) {
  // 服务状态：启动成功，端口：
  return concatText(
      {Text("\xb7\xfe\xce\xf1\xd7\xb4\xcc\xac\xa3\xba\xc6\xf4\xb6\xaf\xb3\xc9\xb9\xa6\xa3\xac\xb6"
            "\xcb\xbf\xda\xa3\xba"),
       port});
}

Text statusFailedCaption(const Text& error) {
  // 服务状态：启动失败,  (an ASCII comma, unlike the success caption)
  return concatText(
      {Text("\xb7\xfe\xce\xf1\xd7\xb4\xcc\xac\xa3\xba\xc6\xf4\xb6\xaf\xca\xa7\xb0\xdc,"), error});
}
