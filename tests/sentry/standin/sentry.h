/* A recording stand-in for the few C functions of the crash-reporting SDK that our binding calls,
 * written for the tests from the binding's own calls. Values are reference-counted nodes; the
 * calls are recorded for the tests to read (SentryStandIn.h). */
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct sentry_standin_node;
typedef struct sentry_value_s {
    struct sentry_standin_node* node; /* null: the null value */
} sentry_value_t;

typedef struct sentry_options_s sentry_options_t;
typedef sentry_value_t (*sentry_event_function_t)(sentry_value_t event, void* hint, void* closure);

sentry_options_t* sentry_options_new(void);
void sentry_options_set_dsn(sentry_options_t* options, const char* dsn);
void sentry_options_set_environment(sentry_options_t* options, const char* environment);
void sentry_options_set_release(sentry_options_t* options, const char* release);
void sentry_options_set_auto_session_tracking(sentry_options_t* options, int enabled);
void sentry_options_set_database_path(sentry_options_t* options, const char* path);
void sentry_options_set_before_send(sentry_options_t* options, sentry_event_function_t function, void* closure);
void sentry_options_set_enable_app_hang_tracking(sentry_options_t* options, int enabled);
void sentry_options_set_app_hang_timeout(sentry_options_t* options, uint64_t timeout_ms);
int sentry_init(sentry_options_t* options);
int sentry_close(void);

void sentry_set_tag(const char* key, const char* value);
void sentry_set_context(const char* key, sentry_value_t value);
void sentry_add_breadcrumb(sentry_value_t breadcrumb);
void sentry_app_hang_heartbeat(void);

sentry_value_t sentry_value_new_object(void);
sentry_value_t sentry_value_new_string(const char* value);
sentry_value_t sentry_value_new_int32(int32_t value);
sentry_value_t sentry_value_new_uint64(uint64_t value);
sentry_value_t sentry_value_new_double(double value);
sentry_value_t sentry_value_new_breadcrumb(const char* type, const char* message);
int sentry_value_set_by_key(sentry_value_t object, const char* key, sentry_value_t value);
sentry_value_t sentry_value_get_by_key(sentry_value_t object, const char* key);
int sentry_value_remove_by_key(sentry_value_t object, const char* key);
int sentry_value_is_null(sentry_value_t value);
void sentry_value_decref(sentry_value_t value);

#ifdef __cplusplus
}
#endif
