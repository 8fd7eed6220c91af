// The operating-system glue of the program: the only place besides app/ that
// knows Linux. Dynamic loading (dlopen), code-page conversion (iconv), the
// program file's path, and two hooks that a window face installs: the event
// pump behind processEvents and the presenter of the fatal error box.
#ifndef REZ_PLATFORM_ENVIRONMENT_H_
#define REZ_PLATFORM_ENVIRONMENT_H_

#include <string>
#include <string_view>

namespace platform {

// --- Dynamic libraries (null on failure; nothing is reported) ---------------
void* loadLibrary(const char* path);
void* findSymbol(void* module, const char* name);
void freeLibrary(void* module);

// --- Code pages: iconv between "CP936", "UTF-16LE" and "UTF-8" --------------
// Converts all of `input`; invalid or unrepresentable input is replaced, so
// the conversion never fails.
std::string convertCodePage(std::string_view input, const char* from, const char* to);

// --- The program file -------------------------------------------------------
std::string executablePath();  // of /proc/self/exe

// --- Hooks installed by a window face --------------------------------------
// The pump handles pending events of the window's main loop. Installing it
// makes the calling thread the window thread; processEvents runs the pump only
// there. Null uninstalls.
using EventPump = void (*)();
void installEventPump(EventPump pump);
void pumpEventsIfWindowThread();
bool onWindowThread();

// The presenter shows the fatal box text (code page 936) and returns when the
// operator has closed it. Without one, the text goes to standard error as
// UTF-8. Null uninstalls.
using FatalPresenter = void (*)(const std::string& boxTextCp936);
void installFatalPresenter(FatalPresenter presenter);
void presentFatalText(const std::string& boxTextCp936);

}  // namespace platform

#endif  // REZ_PLATFORM_ENVIRONMENT_H_
