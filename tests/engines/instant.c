/* Test engine that answers "ABCD" at once, for measuring everything around
 * the engine. */
#include "engine_common.h"

ENGINE_EXPORT int init(void) {
  engine_log("init\n");
  return 0;
}

ENGINE_EXPORT const char* ocr(const void* image, int length) {
  (void)image;
  engine_log_ocr(length);
  return "ABCD";
}
