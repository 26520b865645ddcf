// Message library of the host: registration, posted messages, internal errors, debug log.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "host/host_export.h"

enum MSG_POST_TYPE { MSG_POST_TYPE_ERROR = 0, MSG_POST_TYPE_WARNING = 2 };

enum MSG_D_LEVEL { MSG_D_LEVEL_0 = 0, MSG_D_LEVEL_1 = 1, MSG_D_LEVEL_2 = 2, MSG_D_LEVEL_3 = 3 };

// Registers a module's message ids (and whether each is an error or a warning) for as long as
// the object lives.
class HOST_EXPORT MSG_ID_REGISTRAR {
public:
    MSG_ID_REGISTRAR(const unsigned* ids, const MSG_POST_TYPE* types, size_t count);
    ~MSG_ID_REGISTRAR();
    MSG_ID_REGISTRAR(const MSG_ID_REGISTRAR&) = delete;
    MSG_ID_REGISTRAR& operator=(const MSG_ID_REGISTRAR&) = delete;

    // Whether some live registrar holds the id, and with which type.
    static bool is_registered(unsigned id, MSG_POST_TYPE* type = nullptr);
    // Every registered id in registration order.
    static std::vector<unsigned> registered_ids();

private:
    std::vector<unsigned> m_ids;
};

// The process's message index: which ids the user has filtered out.
class HOST_EXPORT MSG_INDEX {
public:
    virtual ~MSG_INDEX();
    virtual bool is_filtered(unsigned id) const;
    void set_filtered(unsigned id, bool filtered);
    static MSG_INDEX* get_default_index();

private:
    std::vector<unsigned> m_filtered;
};

class MSG_REPORT;

class HOST_EXPORT MSG_BASE {
public:
    MSG_BASE() = default;
    virtual ~MSG_BASE();
    // Fills the message from a catalogue literal "text/Type SYMBOL": %1!s! and %2!s! take C
    // strings, %1!d! an int, in the order of their numbers.
    void fill_args(const char* text, ...);
    void set_severity_level(int level) { m_severity = level; }
    void set_id(unsigned id) { m_id = id; }
    unsigned get_id() const { return m_id; }
    int get_severity_level() const { return m_severity; }
    // The text as the user sees it: the part before "/" with the arguments in place.
    const std::string& get_text() const { return m_text; }

private:
    unsigned m_id = 0;
    int m_severity = 0;
    std::string m_text;
};

class HOST_EXPORT MSG_POST : public MSG_BASE {
public:
    virtual void post();

protected:
    explicit MSG_POST(MSG_POST_TYPE type) : m_type(type) {}

private:
    MSG_POST_TYPE m_type;
};

class HOST_EXPORT MSG_W : public MSG_POST {
public:
    explicit MSG_W(MSG_REPORT* report);
};

class HOST_EXPORT MSG_E : public MSG_POST {
public:
    explicit MSG_E(MSG_REPORT* report);
};

// A filtered warning: posting it shows nothing.
class HOST_EXPORT MSG_W_NULL : public MSG_POST {
public:
    MSG_W_NULL();
    void post() override {}
};

class HOST_EXPORT MSG_INTERNAL_ERROR {
public:
    [[noreturn]] static void report(const char* condition, const char* module, const char* file,
                                    int line);
    [[noreturn]] static void report_varg(const char* module, const char* file, int line,
                                         const char* format, ...)
        __attribute__((format(printf, 4, 5)));
};

HOST_EXPORT void msg_local_vdebug(const char* module, MSG_D_LEVEL level, const char* format,
                                  va_list args);

// Control points of the standalone host.
using MSG_POST_LISTENER =
    std::function<void(unsigned id, MSG_POST_TYPE type, const std::string& text)>;
using MSG_DEBUG_LISTENER =
    std::function<void(const std::string& module, int level, const std::string& line)>;
HOST_EXPORT void msg_set_post_listener(MSG_POST_LISTENER listener);
HOST_EXPORT void msg_set_debug_listener(MSG_DEBUG_LISTENER listener);
