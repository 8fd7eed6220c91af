/* A small library for the library-entry tests, built several times under one
 * name in different directories. WHERE says which copy answered; the copy
 * built without OCR_ENTRY lacks "ocr". */
#define EXPORT __attribute__((visibility("default")))
EXPORT int init(void) { return WHERE; }
#ifdef OCR_ENTRY
EXPORT const char* ocr(const void* image, int length) {
  (void)image;
  (void)length;
  return "ok";
}
#endif
