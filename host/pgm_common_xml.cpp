// File functions of the XML document library, on libxml2. Database files come from users, so
// reading is closed to the outside world: no DTD, no entity, no network, no include.
#include "host/pgm_common_xml.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>
#include <libxml/xmlstring.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "host/fio.h"
#include "host/host_detail.h"

namespace {
// ---- Element factories -------------------------------------------------------------------

struct FACTORIES {
    // By file kind, then indexed by element kind: the parser makes every element of every file
    // through it.
    std::map<int, std::vector<PGM_COMMON_XML_ELEMENT_FACTORY>> by_kind;
    // The first kind registered for a file kind is its root element.
    std::map<int, PGM_COMMON_XML_ENUM> root;
};

// Filled during static initialisation of other modules, and never destroyed, so that it is
// there whatever the order in which modules load and unload.
FACTORIES& factories() {
    static auto* table = new FACTORIES;
    return *table;
}

PGM_COMMON_XML_ELEMENT_FACTORY find_factory(PGM_COMMON_XML_FILE_ENUM file_kind,
                                            PGM_COMMON_XML_ENUM kind) {
    auto it = factories().by_kind.find(file_kind);
    if (kind < 0 || it == factories().by_kind.end() ||
        static_cast<size_t>(kind) >= it->second.size())
        return nullptr;
    return it->second[static_cast<size_t>(kind)];
}

PGM_COMMON_XML_ENUM root_kind(PGM_COMMON_XML_FILE_ENUM file_kind) {
    auto it = factories().root.find(file_kind);
    return it == factories().root.end() ? PGM_COMMON_XML_ENUM__INVALID__ : it->second;
}

// ---- libxml2 set-up and errors ----------------------------------------------------------

xmlParserInputPtr refuse_entity(const char*, const char*, xmlParserCtxtPtr) {
    return nullptr;
}

void ignore_generic_error(void*, const char*, ...) {}

void init_libxml() {
    static const bool ready = [] {
        xmlInitParser();
        // Files are read from memory, so nothing legitimate ever needs the loader: no external
        // DTD, entity or schema include can be fetched, from disk or from the network.
        xmlSetExternalEntityLoader(refuse_entity);
        xmlSetGenericErrorFunc(nullptr, ignore_generic_error);
        return true;
    }();
    (void)ready;
}

#if LIBXML_VERSION >= 21200
using XML_ERROR = const xmlError*;
#else
using XML_ERROR = xmlErrorPtr;
#endif

// Collects libxml2's errors as "<file>:<line>: <message>" while it lives, instead of letting
// libxml2 print them.
class ERROR_SINK {
public:
    explicit ERROR_SINK(std::string file)
        : m_file(std::move(file)),
          m_saved(xmlStructuredError),
          m_saved_context(xmlStructuredErrorContext) {
        xmlSetStructuredErrorFunc(this, collect);
    }
    ~ERROR_SINK() { xmlSetStructuredErrorFunc(m_saved_context, m_saved); }
    ERROR_SINK(const ERROR_SINK&) = delete;
    ERROR_SINK& operator=(const ERROR_SINK&) = delete;

    static void collect(void* sink, XML_ERROR error) {
        auto* self = static_cast<ERROR_SINK*>(sink);
        if (!error || error->level < XML_ERR_ERROR)
            return;
        const std::string file = error->file ? error->file : self->m_file;
        self->add(file + ":" + std::to_string(error->line) + ": " +
                  HOST_DETAIL::trim(error->message ? error->message : "unknown error"));
    }
    void add(const std::string& message) {
        // A broken file can raise thousands of errors; the first ones tell the story.
        if (m_messages.size() < 50)
            m_messages.push_back(message);
    }
    bool empty() const { return m_messages.empty(); }
    size_t size() const { return m_messages.size(); }
    // Forgets the messages after the first `count`.
    void truncate(size_t count) { m_messages.resize(std::min(count, m_messages.size())); }
    const std::vector<std::string>& messages() const { return m_messages; }

private:
    std::string m_file;
    std::vector<std::string> m_messages;
    xmlStructuredErrorFunc m_saved;
    void* m_saved_context;
};

std::string join(const std::vector<std::string>& lines, size_t first = 0) {
    std::string text;
    for (size_t i = first; i < lines.size(); ++i)
        text += (text.empty() ? "" : "\n") + lines[i];
    return text;
}

// ---- Reading ----------------------------------------------------------------------------

// What identifies one version of a file: a rewrite through rename changes the inode, an edit
// in place the time or the size.
struct FILE_KEY {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long mtime_ns = 0;
    bool operator==(const FILE_KEY& o) const {
        return device == o.device && inode == o.inode && size == o.size && mtime_ns == o.mtime_ns;
    }
    bool operator!=(const FILE_KEY& o) const { return !(*this == o); }
};

FILE_KEY key_of(const struct stat& info) {
    return {info.st_dev, info.st_ino, info.st_size,
            static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec};
}

bool file_key(const std::string& path, FILE_KEY* key) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    *key = key_of(info);
    return true;
}

struct DOC_DELETER {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DOC = std::unique_ptr<xmlDoc, DOC_DELETER>;

// Called when the parser meets "<!DOCTYPE": stops it before any declaration is read.
void refuse_doctype(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    auto* parser = static_cast<xmlParserCtxtPtr>(context);
    *static_cast<bool*>(parser->_private) = true;
    xmlStopParser(parser);
}

// The whole file through one descriptor: the size the descriptor had when opened, read without
// a further call to find the end. `signature`, when given, receives that version's
// FIO_FILE_SYSTEM::signature.
bool read_file(const std::string& path, std::string* text, std::string* signature) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= INT_MAX;
    if (ok && signature)
        *signature = HOST_DETAIL::signature_of(info);
    text->resize(ok ? static_cast<size_t>(info.st_size) : 0);
    size_t done = 0;
    while (ok && done < text->size()) {
        const ssize_t got = ::read(fd, &(*text)[done], text->size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        ok = got >= 0;
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
    }
    ::close(fd);
    // A file that shrank while it was read is taken as far as it went.
    text->resize(done);
    return ok;
}

// A schema file as a document tree, which is what the schema compiler takes.
DOC read_document(const std::string& path, ERROR_SINK& sink) {
    std::string text;
    if (!read_file(path, &text, nullptr)) {
        sink.add(path + ": cannot read the file");
        return nullptr;
    }
    xmlParserCtxtPtr parser = xmlNewParserCtxt();
    if (!parser) {
        sink.add(path + ": out of memory");
        return nullptr;
    }
    bool doctype = false;
    const size_t earlier = sink.size();
    parser->_private = &doctype;
    parser->sax->internalSubset = refuse_doctype;
    DOC doc(xmlCtxtReadMemory(parser, text.data(), static_cast<int>(text.size()), path.c_str(),
                              nullptr, XML_PARSE_NONET | XML_PARSE_BIG_LINES));
    xmlFreeParserCtxt(parser);
    if (doctype) {
        // A DOCTYPE is where entity bombs and external entities live; no database file has one.
        sink.truncate(earlier);
        sink.add(path + ": a DOCTYPE is not allowed in a database file");
        return nullptr;
    }
    if (!doc && sink.empty())
        sink.add(path + ": the file is not well-formed XML");
    return doc;
}

// ---- Schemas ----------------------------------------------------------------------------

struct SCHEMA {
    FILE_KEY key;
    DOC doc;  // kept while the compiled schema lives, which may point into it
    xmlSchemaPtr schema = nullptr;
    // Made on first use and kept for every later file: a validation context per file costs
    // allocations that a small file does not repay.
    xmlSchemaValidCtxtPtr validator = nullptr;
    unsigned long held_in = 0;  // the schema hold it was last looked at in; 0: none
};

// The schema hold of this thread: how deep, and which one (unique in the process).
thread_local unsigned hold_depth = 0;
thread_local unsigned long hold_round = 0;
std::atomic<unsigned long> hold_rounds{0};

// Compiled schemas by path. Never destroyed: the process ends without tearing libxml2 down.
std::map<std::string, SCHEMA>& schemas() {
    static auto* compiled = new std::map<std::string, SCHEMA>;
    return *compiled;
}

SCHEMA* get_schema(const std::string& path, ERROR_SINK& sink) {
    auto it = schemas().find(path);
    if (hold_depth && it != schemas().end() && it->second.held_in == hold_round)
        return &it->second;
    FILE_KEY key;
    if (!file_key(path, &key)) {
        sink.add(path + ": cannot read the schema");
        return nullptr;
    }
    if (it != schemas().end()) {
        if (it->second.key == key) {
            it->second.held_in = hold_depth ? hold_round : 0;
            return &it->second;
        }
        xmlSchemaFreeValidCtxt(it->second.validator);
        xmlSchemaFree(it->second.schema);
        schemas().erase(it);
    }
    DOC doc = read_document(path, sink);
    if (!doc)
        return nullptr;
    xmlSchemaParserCtxtPtr parser = xmlSchemaNewDocParserCtxt(doc.get());
    xmlSchemaSetParserStructuredErrors(parser, ERROR_SINK::collect, &sink);
    xmlSchemaPtr schema = xmlSchemaParse(parser);
    xmlSchemaFreeParserCtxt(parser);
    if (!schema) {
        if (sink.empty())
            sink.add(path + ": not a usable schema");
        return nullptr;
    }
    SCHEMA& compiled = schemas()[path];
    compiled = SCHEMA{key, std::move(doc), schema, nullptr, hold_depth ? hold_round : 0};
    return &compiled;
}

// ---- Reading data files: one pass of the parser per file -------------------------------
//
// A data file is read as a stream of parser events, checked against its schema while they
// come, and kept flat: one record per element, with its attributes and texts in one arena.
// The typed tree is built from the records afterwards, and only for a file that passed its
// schema, since the element classes stop the program on a child they do not hold. libxml2
// builds no tree of its own, so a file costs one parse, the schema check and the typed tree.

constexpr uint32_t no_text = UINT32_MAX;

struct EVENT_ELEMENT {
    PGM_COMMON_XML_ENUM kind = PGM_COMMON_XML_ENUM__INVALID__;
    bool known = false;             // false: a name that is no element kind
    const xmlChar* name = nullptr;  // the XML name, as the parser's dictionary holds it
    int line = 0;                   // of the start tag
    uint32_t end = 0;               // one past the last element of its subtree
    uint32_t first_attribute = 0, attribute_count = 0;
    uint32_t first_text = no_text, last_text = no_text;  // its own text pieces, in order
};

struct EVENT_ATTRIBUTE {
    const xmlChar* name;  // as the parser's dictionary holds it
    uint32_t value_at, value_size;
    bool in_namespace;  // xsi:noNamespaceSchemaLocation and the like: no database content
};

struct EVENT_TEXT {
    uint32_t at, size, next;
};

// One parser and the records of the file read last, per thread. Everything is reused from
// file to file, so that reading a file allocates nothing once the buffers have grown.
struct READER {
    xmlParserCtxtPtr parser = nullptr;
    std::string text;   // the file
    std::string arena;  // names, attribute values and texts
    std::vector<EVENT_ELEMENT> elements;
    std::vector<EVENT_ATTRIBUTE> attributes;
    std::vector<EVENT_TEXT> texts;
    std::vector<uint32_t> open;  // the elements whose end tag is still to come
    bool doctype = false;
    // The schema reports no lines while it streams; it speaks of the element whose tag was
    // read last, and a tree would have given that element's start line.
    int error_line = 0;
    std::string path;
    std::string signature;  // of the version of `path` that was read
    std::vector<std::string> schema_errors;
    // What a check leaves for the parse that follows it: the file, read and well-formed, and
    // whether it passed that schema.
    bool held = false;
    std::string xsd;
    bool valid = false;

    READER() = default;
    READER(const READER&) = delete;
    READER& operator=(const READER&) = delete;
    ~READER() { drop_parser(); }
    void drop_parser() {
        xmlFreeParserCtxt(parser);
        parser = nullptr;
        // The names of the records and of the kinds below lived in its dictionary.
        clear();
        known_names.fill(NAME_KIND());
    }
    // The kinds of the names met, by address: the parser's dictionary holds one copy of each
    // name for as long as the parser lives, so a name is looked up once, not for every element.
    struct NAME_KIND {
        const xmlChar* name = nullptr;
        PGM_COMMON_XML_ENUM kind = PGM_COMMON_XML_ENUM__INVALID__;
        bool known = false;
    };
    std::array<NAME_KIND, 256> known_names{};
    bool kind_of(const xmlChar* name, PGM_COMMON_XML_ENUM* kind) {
        size_t slot = (reinterpret_cast<uintptr_t>(name) >> 3) % known_names.size();
        for (size_t probes = 0; probes < known_names.size(); ++probes) {
            NAME_KIND& entry = known_names[slot];
            if (entry.name == name) {
                *kind = entry.kind;
                return entry.known;
            }
            if (!entry.name) {
                entry.name = name;
                entry.known =
                    HOST_DETAIL::kind_from_name(reinterpret_cast<const char*>(name), &entry.kind);
                *kind = entry.kind;
                return entry.known;
            }
            slot = (slot + 1) % known_names.size();
        }
        // A file of a great many odd names: looked up each time.
        return HOST_DETAIL::kind_from_name(reinterpret_cast<const char*>(name), kind);
    }
    xmlParserCtxtPtr get_parser() {
        // The dictionary keeps every name the parser has met; start afresh before a stream of
        // odd files lets it grow without bound.
        if (parser && parser->dict && xmlDictSize(parser->dict) > 100000)
            drop_parser();
        if (!parser)
            parser = xmlNewParserCtxt();
        return parser;
    }
    void clear() {
        arena.clear();
        elements.clear();
        attributes.clear();
        texts.clear();
        open.clear();
        schema_errors.clear();
        doctype = false;
        error_line = 0;
        held = false;
        signature.clear();
    }
    uint32_t store(const char* data, size_t size) {
        const auto at = static_cast<uint32_t>(arena.size());
        arena.append(data, size);
        return at;
    }
    std::string text_at(uint32_t at, uint32_t size) const { return arena.substr(at, size); }
    static std::string name_of(const EVENT_ELEMENT& element) {
        return reinterpret_cast<const char*>(element.name);
    }
    // The element's own text, its pieces joined.
    std::string text_of(const EVENT_ELEMENT& element) const {
        std::string joined;
        for (uint32_t i = element.first_text; i != no_text; i = texts[i].next)
            joined.append(arena, texts[i].at, texts[i].size);
        return joined;
    }
    int line() const { return parser && parser->input ? parser->input->line : 0; }
};

// Held through a pointer: the readers of records then work on plain memory rather than
// looking the thread's storage up at every step.
READER& reader() {
    static thread_local std::unique_ptr<READER> instance;
    if (!instance)
        instance = std::make_unique<READER>();
    return *instance;
}

const char* chars(const xmlChar* text) {
    return reinterpret_cast<const char*>(text);
}

void on_start(void* data, const xmlChar* name, const xmlChar*, const xmlChar*, int, const xmlChar**,
              int attribute_count, int, const xmlChar** attributes) {
    READER& r = *static_cast<READER*>(data);
    EVENT_ELEMENT element;
    element.line = r.line();
    element.name = name;
    element.known = r.kind_of(name, &element.kind);
    element.first_attribute = static_cast<uint32_t>(r.attributes.size());
    for (int i = 0; i < attribute_count; ++i) {
        // Local name, prefix, namespace, value start and value end.
        const xmlChar* const* attribute = attributes + 5 * i;
        EVENT_ATTRIBUTE stored{};
        stored.in_namespace = attribute[2] != nullptr;
        stored.name = attribute[0];
        stored.value_at = static_cast<uint32_t>(r.arena.size());
        // The parser hands an "&" of the file over as "&#38;", every other reference
        // resolved.
        const std::string_view value(chars(attribute[3]),
                                     static_cast<size_t>(attribute[4] - attribute[3]));
        for (size_t at = 0; at < value.size();) {
            const size_t amp = value.find("&#38;", at);
            r.arena.append(value.substr(at, amp - at));
            if (amp == std::string_view::npos)
                break;
            r.arena += '&';
            at = amp + 5;
        }
        stored.value_size = static_cast<uint32_t>(r.arena.size()) - stored.value_at;
        r.attributes.push_back(stored);
    }
    element.attribute_count = static_cast<uint32_t>(attribute_count);
    r.error_line = element.line;
    r.open.push_back(static_cast<uint32_t>(r.elements.size()));
    r.elements.push_back(element);
}

void on_end(void* data, const xmlChar*, const xmlChar*, const xmlChar*) {
    READER& r = *static_cast<READER*>(data);
    if (r.open.empty())
        return;
    EVENT_ELEMENT& element = r.elements[r.open.back()];
    r.open.pop_back();
    element.end = static_cast<uint32_t>(r.elements.size());
    r.error_line = element.line;
}

void on_text(void* data, const xmlChar* text, int size) {
    READER& r = *static_cast<READER*>(data);
    if (r.open.empty() || size <= 0)
        return;
    // An element that holds child elements holds no value: the blanks between its children,
    // most of a file's text, are not kept.
    if (r.open.back() + 1 < r.elements.size() && std::all_of(text, text + size, [](xmlChar c) {
            return c == ' ' || c == '\n' || c == '\t' || c == '\r';
        }))
        return;
    EVENT_ELEMENT& element = r.elements[r.open.back()];
    const uint32_t at = r.store(chars(text), static_cast<size_t>(size));
    // A text that the parser hands over in pieces usually lands in one run of the arena.
    if (element.last_text != no_text &&
        r.texts[element.last_text].at + r.texts[element.last_text].size == at) {
        r.texts[element.last_text].size += static_cast<uint32_t>(size);
        return;
    }
    const auto index = static_cast<uint32_t>(r.texts.size());
    r.texts.push_back({at, static_cast<uint32_t>(size), no_text});
    if (element.last_text == no_text)
        element.first_text = index;
    else
        r.texts[element.last_text].next = index;
    element.last_text = index;
}

// Called when the parser meets "<!DOCTYPE": stops it before any declaration is read.
void on_doctype(void* data, const xmlChar*, const xmlChar*, const xmlChar*) {
    READER& r = *static_cast<READER*>(data);
    r.doctype = true;
    xmlStopParser(r.parser);
}

void on_schema_error(void* data, XML_ERROR error) {
    READER& r = *static_cast<READER*>(data);
    if (!error || error->level < XML_ERR_ERROR || r.schema_errors.size() >= 50)
        return;
    const std::string file = error->file ? error->file : r.path;
    const int line = error->line > 0 ? error->line : r.error_line;
    r.schema_errors.push_back(file + ":" + std::to_string(line) + ": " +
                              HOST_DETAIL::trim(error->message ? error->message : "unknown error"));
}

const xmlSAXHandler& event_handler() {
    static const xmlSAXHandler handler = [] {
        xmlSAXHandler h;
        std::memset(&h, 0, sizeof h);
        h.initialized = XML_SAX2_MAGIC;
        h.startElementNs = on_start;
        h.endElementNs = on_end;
        h.characters = on_text;
        h.cdataBlock = on_text;
        h.internalSubset = on_doctype;
        return h;
    }();
    return handler;
}

// Reads a data file into the reader's records, checked against `schema` when there is one
// (`valid` tells the verdict). False when the file cannot be read or is not well-formed.
bool read_events(READER& r, const std::string& path, SCHEMA* schema, bool* valid,
                 ERROR_SINK& sink) {
    r.clear();
    *valid = false;
    r.path = path;
    if (!read_file(path, &r.text, &r.signature)) {
        sink.add(path + ": cannot read the file");
        return false;
    }
    xmlParserCtxtPtr parser = r.get_parser();
    if (schema && !schema->validator)
        schema->validator = xmlSchemaNewValidCtxt(schema->schema);
    if (!parser || (schema && !schema->validator)) {
        sink.add(path + ": out of memory");
        return false;
    }
    xmlSAXHandlerPtr handler = const_cast<xmlSAXHandlerPtr>(&event_handler());
    void* user_data = &r;
    xmlSchemaSAXPlugPtr plug = nullptr;
    if (schema) {
        xmlSchemaSetValidStructuredErrors(schema->validator, on_schema_error, &r);
        plug = xmlSchemaSAXPlug(schema->validator, &handler, &user_data);
        if (!plug) {
            sink.add(path + ": out of memory");
            return false;
        }
    }
    *parser->sax = *handler;
    parser->userData = user_data;
    const size_t earlier = sink.size();
    // The events build no document; a document here would be a parser of another mind.
    xmlFreeDoc(xmlCtxtReadMemory(parser, r.text.data(), static_cast<int>(r.text.size()),
                                 path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_BIG_LINES));
    const bool well_formed = parser->wellFormed && !r.doctype;
    *valid = schema && well_formed && xmlSchemaIsValid(schema->validator) == 1 &&
             r.schema_errors.empty();
    if (plug)
        xmlSchemaSAXUnplug(plug);
    if (schema)
        xmlSchemaSetValidStructuredErrors(schema->validator, nullptr, nullptr);
    if (r.doctype) {
        // A stopped parser is not trusted with the next file.
        r.drop_parser();
        // A DOCTYPE is where entity bombs and external entities live; no database file has one.
        sink.truncate(earlier);
        sink.add(path + ": a DOCTYPE is not allowed in a database file");
        return false;
    }
    if (!well_formed) {
        if (sink.empty())
            sink.add(path + ": the file is not well-formed XML");
        return false;
    }
    // As a check of the finished document would: the parser's own findings first.
    for (const std::string& error : r.schema_errors)
        sink.add(error);
    return true;
}

// ---- Building the element tree ----------------------------------------------------------

std::string where(const std::string& file, int line) {
    return file + ":" + std::to_string(line) + ": ";
}

void read_attributes(PGM_COMMON_XML_ELEMENT* element, const READER& r, const EVENT_ELEMENT& event,
                     const std::string& file, ERROR_SINK& sink) {
    for (uint32_t i = 0; i < event.attribute_count; ++i) {
        const EVENT_ATTRIBUTE& attribute = r.attributes[event.first_attribute + i];
        if (attribute.in_namespace)
            continue;
        const std::string name = chars(attribute.name);
        const std::string value = r.text_at(attribute.value_at, attribute.value_size);
        if (!element->read_attribute_text(name, value)) {
            sink.add(where(file, event.line) + "the attribute '" + name + "' of element '" +
                     element->get_name() + "' is unknown or has an invalid value '" + value + "'");
        }
    }
}

void read_children(PGM_COMMON_XML_FILE_ENUM file_kind, PGM_COMMON_XML_ELEMENT* element,
                   const READER& r, uint32_t index, const std::string& file, ERROR_SINK& sink) {
    const EVENT_ELEMENT& event = r.elements[index];
    read_attributes(element, r, event, file, sink);
    size_t children = 0;
    for (uint32_t child = index + 1; child < event.end; child = r.elements[child].end)
        children += r.elements[child].known;
    element->reserve_children(children);
    for (uint32_t child = index + 1; child < event.end; child = r.elements[child].end) {
        const EVENT_ELEMENT& child_event = r.elements[child];
        if (!child_event.known) {
            sink.add(where(file, child_event.line) + "the unknown element '" +
                     r.name_of(child_event) + "' is skipped");
            continue;
        }
        PGM_COMMON_XML_ELEMENT* typed = PGM_COMMON_XML::create_element(file_kind, child_event.kind);
        read_children(file_kind, typed, r, child, file, sink);
        element->add_child(typed, nullptr);
    }
    // Only value elements keep their text; the blanks between the children of the others
    // are not looked at.
    if (element->get_value_type() == PGM_XML_TYPE_NONE)
        return;
    std::string text = r.text_of(event);
    if (!element->read_value_text(std::move(text))) {  // a refused text stays for the message
        sink.add(where(file, event.line) + "the element '" + element->get_name() +
                 "' has an invalid value '" + text + "'");
    }
}

void collect_count_errors(const PGM_COMMON_XML_ELEMENT* element, const std::string& file,
                          std::vector<std::string>* errors) {
    for (const std::string& error : element->get_count_errors())
        errors->push_back(file + ": " + error);
    for (const PGM_COMMON_XML_ELEMENT* child : element->get_all_childs())
        collect_count_errors(child, file, errors);
}

// ---- Writing ----------------------------------------------------------------------------

xmlNode* build_node(const PGM_COMMON_XML_ELEMENT* element) {
    const char* name = pgm_common_xml_enum_name(element->get_type());
    if (!*name)
        return nullptr;
    xmlNode* node = xmlNewNode(nullptr, BAD_CAST name);
    bool ok = node != nullptr;
    for (const PGM_COMMON_XML_ATTRIBUTE& attribute : element->get_attributes()) {
        const std::string text = element->get_attribute_text(attribute.name);
        ok = ok &&
             (text.empty() || (xmlCheckUTF8(BAD_CAST text.c_str()) &&
                               xmlNewProp(node, BAD_CAST attribute.name, BAD_CAST text.c_str())));
    }
    if (ok && element->get_value_type() != PGM_XML_TYPE_NONE) {
        // Written even when empty, so that the element keeps its place in the file.
        const std::string text = element->get_value_text();
        ok = xmlCheckUTF8(BAD_CAST text.c_str()) &&
             xmlAddChild(node, xmlNewText(BAD_CAST text.c_str()));
    }
    for (const PGM_COMMON_XML_ELEMENT* child : element->get_all_childs()) {
        xmlNode* child_node = ok ? build_node(child) : nullptr;
        ok = child_node && xmlAddChild(node, child_node);
    }
    if (!ok) {
        xmlFreeNode(node);
        return nullptr;
    }
    return node;
}
}  // namespace

PGM_COMMON_XML::SCHEMA_HOLD::SCHEMA_HOLD() {
    if (hold_depth++ == 0)
        hold_round = ++hold_rounds;
}

PGM_COMMON_XML::SCHEMA_HOLD::~SCHEMA_HOLD() {
    --hold_depth;
}

void PGM_COMMON_XML::check_xsd(const std::string& xml_file, const std::string& xsd_file,
                               std::string& error, std::string& error2) {
    init_libxml();
    ERROR_SINK sink(xml_file);
    READER& r = reader();
    r.held = false;
    bool valid = false;
    if (SCHEMA* schema = get_schema(xsd_file, sink)) {
        if (read_events(r, xml_file, schema, &valid, sink)) {
            // Kept for the parse that follows, so that the file is read once.
            r.held = true;
            r.xsd = xsd_file;
            r.valid = valid;
            if (!valid && sink.empty())
                sink.add(xml_file + ": the file does not match the schema " + xsd_file);
        }
    }
    error = valid || sink.empty() ? std::string() : sink.messages()[0];
    error2 = valid ? std::string() : join(sink.messages(), 1);
    if (!valid && error.empty())
        error = xml_file + ": the file cannot be checked";
}

PGM_COMMON_XML_ELEMENT* PGM_COMMON_XML::parse_xml(PGM_COMMON_XML_FILE_ENUM file_kind,
                                                  const std::string& xml_file,
                                                  const std::string& xsd_file, bool golden,
                                                  std::string& error, std::string& warning,
                                                  std::string& info) {
    init_libxml();
    ERROR_SINK sink(xml_file);
    READER& r = reader();
    // The element classes trust the structure the schema guarantees; a user file that was not
    // checked against this schema is checked here.
    const bool needs_schema = !golden && !xsd_file.empty();
    bool read = false;
    bool valid = false;
    // The records of a check are taken by the parse of the same file that comes right after
    // it: the tree is then built from the very bytes that passed the schema, read once.
    if (r.held && r.path == xml_file) {
        read = true;
        valid = r.valid && r.xsd == xsd_file;
    }
    if (!read || (needs_schema && !valid)) {
        SCHEMA* schema = needs_schema ? get_schema(xsd_file, sink) : nullptr;
        read = (!needs_schema || schema) && read_events(r, xml_file, schema, &valid, sink);
        if (read && needs_schema && !valid && sink.empty())
            sink.add(xml_file + ": the file does not match the schema " + xsd_file);
    }
    r.held = false;
    if (needs_schema && !valid)
        read = false;

    const PGM_COMMON_XML_ENUM kind = root_kind(file_kind);
    PGM_COMMON_XML_ELEMENT* root = create_element(file_kind, kind);
    bool has_root = read && !r.elements.empty();
    if (has_root && r.name_of(r.elements[0]) != pgm_common_xml_enum_name(kind)) {
        sink.add(where(xml_file, r.elements[0].line) + "the root element is '" +
                 r.name_of(r.elements[0]) + "', expected '" + pgm_common_xml_enum_name(kind) + "'");
        has_root = false;
    }
    if (has_root) {
        read_children(file_kind, root, r, 0, xml_file, sink);
        // A false answer means that some element recorded a count problem: only then is the
        // tree walked for them.
        warning.clear();
        if (!root->check_child_count()) {
            std::vector<std::string> count_errors;
            collect_count_errors(root, xml_file, &count_errors);
            warning = join(count_errors);
        }
    } else if (sink.empty()) {
        sink.add(xml_file + ": the file has no root element");
    }
    error = join(sink.messages());
    info.clear();
    return root;
}

std::string PGM_COMMON_XML::read_signature(const std::string& xml_file) {
    const READER& r = reader();
    return r.path == xml_file ? r.signature : std::string();
}

bool PGM_COMMON_XML::write_xml(const PGM_COMMON_XML_ELEMENT* root, const std::string& xml_file) {
    if (!root || xml_file.empty())
        return false;
    init_libxml();
    ERROR_SINK sink(xml_file);
    DOC doc(xmlNewDoc(BAD_CAST "1.0"));
    xmlNode* node = doc ? build_node(root) : nullptr;
    if (!node)
        return false;
    xmlDocSetRootElement(doc.get(), node);
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc.get(), &text, &size, "UTF-8", 1);
    const bool ok =
        text && size > 0 &&
        FIO_FILE_SYSTEM::replace(
            xml_file, std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size)));
    xmlFree(text);
    return ok;
}

void PGM_COMMON_XML::register_element_factory(PGM_COMMON_XML_FILE_ENUM file_kind,
                                              PGM_COMMON_XML_ENUM kind,
                                              PGM_COMMON_XML_ELEMENT_FACTORY factory) {
    factories().root.emplace(file_kind, kind);
    if (kind < 0)
        return;  // no kind has a negative number
    std::vector<PGM_COMMON_XML_ELEMENT_FACTORY>& made = factories().by_kind[file_kind];
    if (static_cast<size_t>(kind) >= made.size())
        made.resize(static_cast<size_t>(kind) + 1, nullptr);
    made[static_cast<size_t>(kind)] = factory;
}

PGM_COMMON_XML_ELEMENT* PGM_COMMON_XML::create_element(PGM_COMMON_XML_FILE_ENUM file_kind,
                                                       PGM_COMMON_XML_ENUM kind) {
    PGM_COMMON_XML_ELEMENT_FACTORY factory = find_factory(file_kind, kind);
    PGM_COMMON_XML_ELEMENT* element = factory ? factory() : nullptr;
    return element ? element
                   : new PGM_COMMON_XML_ELEMENT(kind, kind, PGM_XML_TYPE_NONE, PGM_XML_EXIST_NONE,
                                                "", "", nullptr);
}

// ---- Element lines ----------------------------------------------------------------------

namespace {

void collect_lines(xmlNode* parent, const std::string& prefix,
                   std::map<std::string, unsigned>& lines) {
    std::map<std::string, unsigned> seen;
    for (xmlNode* node = parent->children; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE)
            continue;
        const std::string name = reinterpret_cast<const char*>(node->name);
        const std::string path = prefix + name + "[" + std::to_string(++seen[name]) + "]";
        lines[path] = static_cast<unsigned>(xmlGetLineNo(node));
        collect_lines(node, path + "/", lines);
    }
}

}  // namespace

std::map<std::string, unsigned> PGM_COMMON_XML::element_lines(const std::string& xml_file) {
    init_libxml();
    std::map<std::string, unsigned> lines;
    ERROR_SINK sink(xml_file);
    DOC doc = read_document(xml_file, sink);
    if (doc)
        collect_lines(reinterpret_cast<xmlNode*>(doc.get()), "", lines);
    return lines;
}
