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

/* The log file named by REZ_TEST_ENGINE_LOG, or NULL. Read once: the
 * benchmarks call the engines tens of thousands of times a second, and what
 * they measure is the program around the engine, not getenv. */
static const char* engine_log_path_value;
static pthread_once_t engine_log_path_once = PTHREAD_ONCE_INIT;

static inline void read_engine_log_path(void) {
  const char* path = getenv("REZ_TEST_ENGINE_LOG");
  engine_log_path_value = (path != NULL && path[0] != '\0') ? path : NULL;
}

static inline const char* engine_log_path(void) {
  pthread_once(&engine_log_path_once, read_engine_log_path);
  return engine_log_path_value;
}

static inline void engine_log(const char* line) {
  const char* path = engine_log_path();
  if (path == NULL) return;
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  size_t length = strlen(line);
  ssize_t written = write(fd, line, length);
  (void)written; /* a test that reads the log sees a short line as a failure */
  close(fd);
}

static inline void engine_log_ocr(int length) {
  if (engine_log_path() == NULL) return;
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
