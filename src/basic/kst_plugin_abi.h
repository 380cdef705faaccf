/* The records that the host and plug-in libraries share. A plug-in library includes only this
 * header: it exports RegisterModule, keeps the handler record it is given, stores its receive
 * function in it, and publishes events through the record's publish function. The layouts are
 * fixed for 64-bit processes and checked at compile time. */
#ifndef TANDREL_KST_PLUGIN_ABI_H
#define TANDREL_KST_PLUGIN_ABI_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Data kinds of an event record. */
enum {
  KST_OBSERVE_TEXT = 0, /* data points to NUL-terminated text */
  KST_OBSERVE_JSON = 1, /* data points to a rapidjson::Value */
  KST_OBSERVE_BYTES = 2 /* data points to data_length raw bytes */
};

/* The output byte string of an event record. The caller provides the record; the host fills it
 * with memory from malloc, which the caller releases with free. */
typedef struct KSTObserveBytes {
  uint8_t* data;
  uint64_t length;
} KSTObserveBytes;

/* The event record (128 bytes). Whoever publishes zeroes it before filling it. */
typedef struct KSTObserveData {
  uint64_t reserved0;            /* 0 */
  const char* task_id;           /* 8: the command's task ID as decimal text */
  int32_t data_kind;             /* 16: KST_OBSERVE_* */
  int32_t reserved20;            /* 20 */
  const char* event_name;        /* 24 */
  const char* platform_function; /* 32: for "LIBMODEL_PLUGIN_COMMAND_RECEIVE" */
  uint64_t reserved40;           /* 40 */
  uint8_t result;                /* 48: written by "LIBPLATFORM_DECOMPRESS_ZIP_STREAM" */
  uint8_t reserved49[7];         /* 49 */
  KSTObserveBytes* output;       /* 56: written by "LIBPLATFORM_DECOMPRESS_ZIP_STREAM" */
  uint64_t reserved64;           /* 64 */
  const void* data;              /* 72 */
  uint64_t data_length;          /* 80: bytes */
  uint64_t reserved88;           /* 88 */
  uintptr_t sender;              /* 96: identity of the publisher, never 0 */
  uintptr_t target;              /* 104: 0 = every subscriber except the sender */
  uint64_t reserved112[2];       /* 112 */
} KSTObserveData;

typedef int (*KSTPublishFunction)(KSTObserveData* event);
typedef int (*KSTReceiveFunction)(KSTObserveData* event);

/* The handler record (32 bytes). The host fills publish, identity and reserved before calling
 * RegisterModule; the plug-in stores its receive function. */
typedef struct KSTHandlerRecord {
  KSTPublishFunction publish; /* 0 */
  KSTReceiveFunction receive; /* 8 */
  uintptr_t identity;         /* 16 */
  void* reserved;             /* 24 */
} KSTHandlerRecord;

/* The one export of a plug-in library. */
typedef void (*KSTRegisterModuleFunction)(KSTHandlerRecord* handler);

/* A record that calls the host's platform function `function` for the task `task_id`, published
 * by `sender` (the plug-in's identity): zeroed, event "LIBMODEL_PLUGIN_COMMAND_RECEIVE". The caller
 * adds the data and output the function takes. */
static inline KSTObserveData KSTPlatformCallRecord(const char* function, const char* task_id, uintptr_t sender) {
  KSTObserveData event;
  memset(&event, 0, sizeof(event));
  event.event_name = "LIBMODEL_PLUGIN_COMMAND_RECEIVE";
  event.platform_function = function;
  event.task_id = task_id;
  event.sender = sender;
  return event;
}

#ifdef __cplusplus
}

static_assert(sizeof(void*) == 8, "the plug-in records are laid out for 64-bit processes");
static_assert(offsetof(KSTObserveData, task_id) == 8);
static_assert(offsetof(KSTObserveData, data_kind) == 16 && sizeof(int32_t) == 4);
static_assert(offsetof(KSTObserveData, event_name) == 24);
static_assert(offsetof(KSTObserveData, platform_function) == 32);
static_assert(offsetof(KSTObserveData, result) == 48);
static_assert(offsetof(KSTObserveData, output) == 56);
static_assert(offsetof(KSTObserveData, data) == 72);
static_assert(offsetof(KSTObserveData, data_length) == 80);
static_assert(offsetof(KSTObserveData, sender) == 96);
static_assert(offsetof(KSTObserveData, target) == 104);
static_assert(sizeof(KSTObserveData) == 128);
static_assert(offsetof(KSTHandlerRecord, receive) == 8);
static_assert(offsetof(KSTHandlerRecord, identity) == 16);
static_assert(sizeof(KSTHandlerRecord) == 32);
#endif

#endif
