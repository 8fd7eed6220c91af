/* Test engine: answers the uppercase hex of the image bytes ("" for a null
 * image), so a test sees exactly which bytes reached the engine. */
#include "engine_common.h"

ENGINE_EXPORT int init(void) {
  engine_log("init\n");
  return 0;
}

ENGINE_EXPORT const char* ocr(const void* image, int length) {
  static const char kDigits[] = "0123456789ABCDEF";
  engine_log_ocr(length);
  if (image == NULL || length <= 0) return "";
  char* answer = thread_answer_buffer((size_t)length * 2 + 1);
  if (answer == NULL) return NULL;
  const unsigned char* bytes = (const unsigned char*)image;
  for (int i = 0; i < length; ++i) {
    answer[2 * i] = kDigits[bytes[i] >> 4];
    answer[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  answer[(size_t)length * 2] = '\0';
  return answer;
}
