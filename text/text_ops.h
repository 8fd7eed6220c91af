// Operations on texts, byte buffers and numbers that every module uses, with
// their exact edge behaviour: positions are 1-based, a search that finds
// nothing gives -1, and the searches walk code-page-936 characters (a byte of
// 80 hex or more and the byte after it are one character). Other modules rely
// on the edges (Base64 decoding relies on charCode giving 0 past the end and
// on findText reporting 1 for an empty sought text), so they are the contract.
//
// Every result is a new value; no operation changes its arguments. All of them
// may run on several threads at once, except setDllDirectory (written once at
// start-up) and processEvents (which works only on the window thread).
#ifndef REZ_TEXT_TEXT_OPS_H_
#define REZ_TEXT_TEXT_OPS_H_

#include <cstdint>
#include <initializer_list>
#include <optional>

#include "text/text.h"

// --- Texts -------------------------------------------------------------------
int textLength(const Text& text);
Text concatText(std::initializer_list<Text> parts);
int compareText(const Text& a, const Text& b);
Text textMid(const Text& text, int start, int count);
Text textRight(const Text& text, int count);
// A left-out start position (std::nullopt) is not the same as 0: see the .cc.
int findText(const Text& text, const Text& sought, std::optional<int> start = std::nullopt,
             bool caseInsensitive = false);
int findTextReverse(const Text& text, const Text& sought, std::optional<int> start = std::nullopt,
                    bool caseInsensitive = false);
Text replaceSubtext(const Text& text, const Text& sought, const Text& replacement = Text(),
                    std::optional<int> start = std::nullopt,
                    std::optional<int> count = std::nullopt, bool caseSensitive = true);
Text removeAllSpaces(const Text& text);
int32_t textToInt(const Text& text);
Text int64ToText(int64_t value);
int charCode(const Text& text, std::optional<int> position = std::nullopt);
Text charFromCode(uint8_t byte);
Text blankText(int count);
Text pointerToText(const char* address);

// --- Byte buffers ------------------------------------------------------------
int bytesLength(const ByteBuffer& buffer);
ByteBuffer bytesLeft(const ByteBuffer& buffer, int count);
ByteBuffer bytesRight(const ByteBuffer& buffer, int count);
ByteBuffer concatBytes(std::initializer_list<const ByteBuffer*> parts);
ByteBuffer blankBytes(int count);
ByteBuffer pointerToBytes(const void* address, int length);

// --- Conversions -------------------------------------------------------------
ByteBuffer textToBytes(const Text& text);
Text bytesToText(const ByteBuffer& buffer);
ByteBuffer byteArrayToBytes(const ByteArray& array);

// --- Numbers -----------------------------------------------------------------
uint8_t toByte(int32_t value);
int32_t bitOr(std::initializer_list<int32_t> values);
double intDivide(double a, double b);  // fatal "不能整除于零" for b == 0
double modulo(double a, double b);     // fatal "不能求余数于零" for b == 0
int32_t realToInt(double value);

// --- Environment -------------------------------------------------------------
// Handles the pending events of the window thread's main loop; returns at once
// on any other thread and when no window face is running.
void processEvents();
void sleepMs(int milliseconds);
// Directory of the program file (of /proc/self/exe), without a trailing '/'.
Text runDirectory();
// Sets the process-wide library directory (a trailing '/' is added to a
// non-empty value that lacks one) and returns the previous value. Left out,
// the new value is empty.
Text setDllDirectory(std::optional<Text> directory = std::nullopt);
// The current library directory, read by the library-entry table.
Text dllDirectory();

#endif  // REZ_TEXT_TEXT_OPS_H_
