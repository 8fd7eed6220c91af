// Fuzz target: arbitrary bytes into the recognition engine's ocr() entry.
// Whatever the bytes, the engine must answer with a zero-terminated text
// and never crash, hang or leak; a repeated call (the server's retry) must
// behave as well.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ocr_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > static_cast<std::size_t>(1) << 20) return 0;
  for (int call = 0; call < 2; ++call) {
    const char* text = ocr(data, static_cast<int>(size));
    if (text == nullptr) __builtin_trap();
    // Reads the whole text: a missing terminator shows up under ASan.
    volatile std::size_t length = std::strlen(text);
    (void)length;
  }
  return 0;
}
