/* Test engine: answers, call after call, the items of the '|'-separated list
 * in REZ_TEST_ENGINE_ANSWERS, starting again after the last one. The item
 * "<null>" answers a null pointer; an unset variable answers "". The count
 * restarts at the first item whenever the list changes, and when a test calls
 * test_engine_restart(). Calls from several threads take items in turn. */
#include "engine_common.h"

static pthread_mutex_t script_lock = PTHREAD_MUTEX_INITIALIZER;
static char* current_list = NULL; /* the list the count belongs to */
static unsigned long calls = 0;   /* calls answered from current_list */

/* The list copy goes with the module, so a leak check at the program's exit
 * (after it has unloaded the engine) finds nothing left behind. */
__attribute__((destructor)) static void release_list(void) {
  free(current_list);
  current_list = NULL;
}

ENGINE_EXPORT void test_engine_restart(void) {
  pthread_mutex_lock(&script_lock);
  calls = 0;
  pthread_mutex_unlock(&script_lock);
}

ENGINE_EXPORT int init(void) {
  engine_log("init\n");
  return 0;
}

ENGINE_EXPORT const char* ocr(const void* image, int length) {
  (void)image;
  engine_log_ocr(length);
  const char* list = getenv("REZ_TEST_ENGINE_ANSWERS");
  if (list == NULL) return "";

  pthread_mutex_lock(&script_lock);
  if (current_list == NULL || strcmp(current_list, list) != 0) {
    free(current_list);
    current_list = strdup(list);
    calls = 0;
  }
  size_t items = 1;
  for (const char* c = list; *c != '\0'; ++c) items += *c == '|';
  size_t wanted = (size_t)(calls++ % items);
  pthread_mutex_unlock(&script_lock);

  const char* item = list;
  for (size_t i = 0; i < wanted; ++i) item = strchr(item, '|') + 1;
  const char* end = strchr(item, '|');
  size_t size = end == NULL ? strlen(item) : (size_t)(end - item);
  if (size == 6 && memcmp(item, "<null>", 6) == 0) return NULL;

  char* answer = thread_answer_buffer(size + 1);
  if (answer == NULL) return NULL;
  memcpy(answer, item, size);
  answer[size] = '\0';
  return answer;
}
