/*
 * What the test engines share: the call log and a per-thread answer buffer.
 *
 * When the environment variable REZ_TEST_ENGINE_LOG names a file, every call
 * appends one line to it ("init", or "ocr <length>"), with a single
 * O_APPEND write, so lines from concurrent calls never mix. An answer stays
 * valid until the calling thread's next call, as the real engine's does.
 */
#ifndef REZ_TESTS_ENGINES_ENGINE_COMMON_H_
#define REZ_TESTS_ENGINES_ENGINE_COMMON_H_

#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define ENGINE_EXPORT __attribute__((visibility("default")))

static inline void engine_log(const char* line) {
  const char* path = getenv("REZ_TEST_ENGINE_LOG");
  if (path == NULL || path[0] == '\0') return;
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  size_t length = strlen(line);
  ssize_t written = write(fd, line, length);
  (void)written; /* a test that reads the log sees a short line as a failure */
  close(fd);
}

static inline void engine_log_ocr(int length) {
  char line[32];
  snprintf(line, sizeof line, "ocr %d\n", length);
  engine_log(line);
}

static pthread_key_t answer_key;
static pthread_once_t answer_key_once = PTHREAD_ONCE_INIT;

static inline void make_answer_key(void) { pthread_key_create(&answer_key, free); }

/* A buffer of at least `size` bytes owned by the calling thread (freed when
 * it ends); NULL when memory runs out. */
static inline char* thread_answer_buffer(size_t size) {
  pthread_once(&answer_key_once, make_answer_key);
  char* buffer = (char*)realloc(pthread_getspecific(answer_key), size);
  if (buffer != NULL) pthread_setspecific(answer_key, buffer);
  return buffer;
}

#endif /* REZ_TESTS_ENGINES_ENGINE_COMMON_H_ */
