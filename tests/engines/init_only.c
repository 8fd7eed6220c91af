/* Test engine that loads but lacks the ocr entry: for the fatal report of a
 * missing function. */
#include "engine_common.h"

ENGINE_EXPORT int init(void) {
  engine_log("init\n");
  return 0;
}
