#include "host/msg.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "host/host_detail.h"

namespace {
struct REGISTERED {
    unsigned id;
    MSG_POST_TYPE type;
    const MSG_ID_REGISTRAR* owner;
};

// Never destroyed: registrars of other modules may be destroyed after this module's statics.
std::vector<REGISTERED>& registry() {
    static auto* ids = new std::vector<REGISTERED>;
    return *ids;
}

void default_post(unsigned id, MSG_POST_TYPE type, const std::string& text) {
    std::fprintf(stderr, "%s (%u): %s\n", type == MSG_POST_TYPE_ERROR ? "Error" : "Warning", id,
                 text.c_str());
    std::fflush(stderr);
}

void default_debug(const std::string& module, int, const std::string& line) {
    if (!std::getenv("GFPDB_DEBUG"))
        return;
    std::fprintf(stderr, "Debug: [%s] %s\n", module.c_str(), line.c_str());
    std::fflush(stderr);
}

MSG_POST_LISTENER& post_listener() {
    static auto* listener = new MSG_POST_LISTENER(default_post);
    return *listener;
}

MSG_DEBUG_LISTENER& debug_listener() {
    static auto* listener = new MSG_DEBUG_LISTENER(default_debug);
    return *listener;
}

// One placeholder "%N!t!" of a catalogue text.
struct PLACEHOLDER {
    size_t at, length;
    unsigned index;
    char kind;  // 's' or 'd'
};

std::vector<PLACEHOLDER> find_placeholders(const std::string& text) {
    std::vector<PLACEHOLDER> found;
    for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1)) {
        size_t i = at + 1;
        unsigned index = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && index < 100)
            index = index * 10 + static_cast<unsigned>(text[i++] - '0');
        if (index == 0 || text.compare(i, 1, "!") != 0 || i + 2 >= text.size() ||
            text[i + 2] != '!' || (text[i + 1] != 's' && text[i + 1] != 'd'))
            continue;
        found.push_back({at, i + 3 - at, index, text[i + 1]});
    }
    return found;
}
}  // namespace

MSG_ID_REGISTRAR::MSG_ID_REGISTRAR(const unsigned* ids, const MSG_POST_TYPE* types, size_t count) {
    for (size_t i = 0; ids && types && i < count; ++i) {
        m_ids.push_back(ids[i]);
        registry().push_back({ids[i], types[i], this});
    }
}

MSG_ID_REGISTRAR::~MSG_ID_REGISTRAR() {
    std::vector<REGISTERED>& all = registry();
    all.erase(std::remove_if(all.begin(), all.end(),
                             [this](const REGISTERED& r) { return r.owner == this; }),
              all.end());
}

bool MSG_ID_REGISTRAR::is_registered(unsigned id, MSG_POST_TYPE* type) {
    for (const REGISTERED& r : registry()) {
        if (r.id == id) {
            if (type)
                *type = r.type;
            return true;
        }
    }
    return false;
}

std::vector<unsigned> MSG_ID_REGISTRAR::registered_ids() {
    std::vector<unsigned> ids;
    for (const REGISTERED& r : registry())
        ids.push_back(r.id);
    return ids;
}

MSG_INDEX::~MSG_INDEX() = default;

bool MSG_INDEX::is_filtered(unsigned id) const {
    return std::find(m_filtered.begin(), m_filtered.end(), id) != m_filtered.end();
}

void MSG_INDEX::set_filtered(unsigned id, bool filtered) {
    m_filtered.erase(std::remove(m_filtered.begin(), m_filtered.end(), id), m_filtered.end());
    if (filtered)
        m_filtered.push_back(id);
}

MSG_INDEX* MSG_INDEX::get_default_index() {
    static auto* index = new MSG_INDEX;
    return index;
}

MSG_BASE::~MSG_BASE() = default;

void MSG_BASE::fill_args(const char* text, ...) {
    std::string literal = text ? text : "";
    // The literal ends in "/<type letter> <symbol>"; the text itself may hold a "/" ("I/O").
    size_t type_at = literal.rfind('/');
    if (type_at != std::string::npos)
        literal.erase(type_at);
    const std::vector<PLACEHOLDER> placeholders = find_placeholders(literal);

    // The arguments come in the order of the placeholder numbers, each of its placeholder's kind.
    std::map<unsigned, char> kinds;
    for (const PLACEHOLDER& p : placeholders)
        kinds.emplace(p.index, p.kind);
    std::map<unsigned, std::string> values;
    va_list args;
    va_start(args, text);
    for (unsigned index = 1; kinds.count(index); ++index) {
        if (kinds[index] == 'd') {
            values[index] = std::to_string(va_arg(args, int));
        } else {
            const char* value = va_arg(args, const char*);
            values[index] = value ? value : "";
        }
    }
    va_end(args);

    m_text.clear();
    size_t done = 0;
    for (const PLACEHOLDER& p : placeholders) {
        if (!values.count(p.index))
            continue;
        m_text.append(literal, done, p.at - done).append(values[p.index]);
        done = p.at + p.length;
    }
    m_text.append(literal, done, std::string::npos);
}

void MSG_POST::post() {
    post_listener()(get_id(), m_type, get_text());
}

MSG_W::MSG_W(MSG_REPORT*) : MSG_POST(MSG_POST_TYPE_WARNING) {}

MSG_E::MSG_E(MSG_REPORT*) : MSG_POST(MSG_POST_TYPE_ERROR) {}

MSG_W_NULL::MSG_W_NULL() : MSG_POST(MSG_POST_TYPE_WARNING) {}

void MSG_INTERNAL_ERROR::report(const char* condition, const char* module, const char* file,
                                int line) {
    std::fprintf(stderr, "Internal Error: Sub-system: %s, File: %s, Line: %d\n%s\n",
                 module ? module : "", file ? file : "", line, condition ? condition : "");
    std::fflush(stderr);
    std::abort();
}

void MSG_INTERNAL_ERROR::report_varg(const char* module, const char* file, int line,
                                     const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = HOST_DETAIL::vformat(format, args);
    va_end(args);
    report(text.c_str(), module, file, line);
}

void msg_local_vdebug(const char* module, MSG_D_LEVEL level, const char* format, va_list args) {
    debug_listener()(module ? module : "", level, HOST_DETAIL::vformat(format, args));
}

void msg_set_post_listener(MSG_POST_LISTENER listener) {
    post_listener() = listener ? std::move(listener) : MSG_POST_LISTENER(default_post);
}

void msg_set_debug_listener(MSG_DEBUG_LISTENER listener) {
    debug_listener() = listener ? std::move(listener) : MSG_DEBUG_LISTENER(default_debug);
}
