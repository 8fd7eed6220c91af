/*
 * ocr_engine.h: the two entries of libocr.so, the recognition engine.
 *
 * init() prepares the calling thread's recogniser and checks the language
 * data; its result is informational (the program does not examine it).
 * ocr() reads the text in an image held in memory (any format Leptonica
 * reads) and returns a zero-terminated code-page-936 text owned by the
 * engine, valid until the calling thread's next ocr() call; never NULL for a
 * readable image, "" for bytes that are no image. Safe from many threads at
 * once: each thread has its own recogniser.
 */
#ifndef OCR_ENGINE_H_
#define OCR_ENGINE_H_

#ifdef __cplusplus
extern "C" {
#endif

__attribute__((visibility("default"))) int init(void);
__attribute__((visibility("default"))) const char* ocr(const void* image, int length);

#ifdef __cplusplus
}
#endif

#endif /* OCR_ENGINE_H_ */
