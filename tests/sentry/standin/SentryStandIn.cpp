#include "SentryStandIn.h"

#include <cstdio>

struct sentry_standin_node {
    enum class Kind { string, int32, uint64, float64, object } kind;
    int refs = 1;
    std::string text;
    int32_t i32 = 0;
    uint64_t u64 = 0;
    double f64 = 0;
    std::map<std::string, sentry_value_t> members;
};

struct sentry_options_s {
    sentry_standin::Options values;
};

namespace sentry_standin {

namespace {
long live = 0;
Recorded state;

sentry_value_t make(sentry_standin_node::Kind kind) {
    ++live;
    auto* node = new sentry_standin_node{};
    node->kind = kind;
    return sentry_value_t{node};
}
}  // namespace

Recorded& recorded() { return state; }
void reset() { state = Recorded{}; }
long liveNodes() { return live; }

std::string describe(sentry_value_t value) {
    const sentry_standin_node* n = value.node;
    if (!n) return "null";
    char buffer[64];
    switch (n->kind) {
    case sentry_standin_node::Kind::string:
        return "\"" + n->text + "\"";
    case sentry_standin_node::Kind::int32:
        return "i32:" + std::to_string(n->i32);
    case sentry_standin_node::Kind::uint64:
        return "u64:" + std::to_string(n->u64);
    case sentry_standin_node::Kind::float64:
        std::snprintf(buffer, sizeof buffer, "f64:%g", n->f64);
        return buffer;
    case sentry_standin_node::Kind::object: {
        std::string out = "{";
        for (const auto& [key, member] : n->members) {
            if (out.size() > 1) out += ",";
            out += "\"" + key + "\":" + describe(member);
        }
        return out + "}";
    }
    }
    return "?";
}

sentry_value_t runBeforeSend(sentry_value_t event) {
    if (!state.options.beforeSend) return event;
    return state.options.beforeSend(event, nullptr, state.options.beforeSendClosure);
}

}  // namespace sentry_standin

using sentry_standin::state;

extern "C" {

sentry_options_t* sentry_options_new(void) { return new sentry_options_s{}; }
void sentry_options_set_dsn(sentry_options_t* o, const char* v) { o->values.dsn = v ? v : ""; }
void sentry_options_set_environment(sentry_options_t* o, const char* v) { o->values.environment = v ? v : ""; }
void sentry_options_set_release(sentry_options_t* o, const char* v) { o->values.release = v ? v : ""; }
void sentry_options_set_auto_session_tracking(sentry_options_t* o, int v) { o->values.autoSessionTracking = v; }
void sentry_options_set_database_path(sentry_options_t* o, const char* v) { o->values.databasePath = v ? v : ""; }
void sentry_options_set_before_send(sentry_options_t* o, sentry_event_function_t f, void* closure) {
    o->values.beforeSend = f;
    o->values.beforeSendClosure = closure;
}
void sentry_options_set_enable_app_hang_tracking(sentry_options_t* o, int v) { o->values.appHangTracking = v; }
void sentry_options_set_app_hang_timeout(sentry_options_t* o, uint64_t v) { o->values.appHangTimeoutMs = v; }
int sentry_init(sentry_options_t* o) {
    ++state.initCalls;
    state.options = o->values;
    delete o;
    return 0;
}
int sentry_close(void) {
    ++state.closeCalls;
    return 0;
}

void sentry_app_hang_heartbeat(void) { ++state.appHangHeartbeats; }

void sentry_set_tag(const char* key, const char* value) { state.tags[key] = value; }
void sentry_set_context(const char* key, sentry_value_t value) {
    state.contexts[key] = sentry_standin::describe(value);
    sentry_value_decref(value);
}
void sentry_add_breadcrumb(sentry_value_t breadcrumb) {
    state.breadcrumbs.push_back(sentry_standin::describe(breadcrumb));
    sentry_value_decref(breadcrumb);
}

sentry_value_t sentry_value_new_object(void) { return sentry_standin::make(sentry_standin_node::Kind::object); }
sentry_value_t sentry_value_new_string(const char* value) {
    sentry_value_t v = sentry_standin::make(sentry_standin_node::Kind::string);
    v.node->text = value ? value : "";
    return v;
}
sentry_value_t sentry_value_new_int32(int32_t value) {
    sentry_value_t v = sentry_standin::make(sentry_standin_node::Kind::int32);
    v.node->i32 = value;
    return v;
}
sentry_value_t sentry_value_new_uint64(uint64_t value) {
    sentry_value_t v = sentry_standin::make(sentry_standin_node::Kind::uint64);
    v.node->u64 = value;
    return v;
}
sentry_value_t sentry_value_new_double(double value) {
    sentry_value_t v = sentry_standin::make(sentry_standin_node::Kind::float64);
    v.node->f64 = value;
    return v;
}
// A breadcrumb is an object with its type and message when given (the SDK adds a timestamp,
// which the stand-in leaves out so that descriptions stay comparable).
sentry_value_t sentry_value_new_breadcrumb(const char* type, const char* message) {
    sentry_value_t crumb = sentry_value_new_object();
    if (type) sentry_value_set_by_key(crumb, "type", sentry_value_new_string(type));
    if (message) sentry_value_set_by_key(crumb, "message", sentry_value_new_string(message));
    return crumb;
}
int sentry_value_set_by_key(sentry_value_t object, const char* key, sentry_value_t value) {
    if (!object.node || object.node->kind != sentry_standin_node::Kind::object) {
        sentry_value_decref(value);
        return 1;
    }
    auto [it, inserted] = object.node->members.try_emplace(key, value);
    if (!inserted) {
        sentry_value_decref(it->second);
        it->second = value;
    }
    return 0;
}
sentry_value_t sentry_value_get_by_key(sentry_value_t object, const char* key) {
    if (!object.node || object.node->kind != sentry_standin_node::Kind::object) return sentry_value_t{nullptr};
    auto it = object.node->members.find(key);
    return it == object.node->members.end() ? sentry_value_t{nullptr} : it->second;
}
int sentry_value_remove_by_key(sentry_value_t object, const char* key) {
    if (!object.node || object.node->kind != sentry_standin_node::Kind::object) return 1;
    auto it = object.node->members.find(key);
    if (it == object.node->members.end()) return 1;
    sentry_value_decref(it->second);
    object.node->members.erase(it);
    return 0;
}
int sentry_value_is_null(sentry_value_t value) { return value.node == nullptr; }
void sentry_value_decref(sentry_value_t value) {
    if (!value.node || --value.node->refs > 0) return;
    for (auto& [key, member] : value.node->members) sentry_value_decref(member);
    delete value.node;
    --sentry_standin::live;
}

}  // extern "C"
