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
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/host_detail.h"

namespace {
// ---- Element factories -------------------------------------------------------------------

// Key of one element kind of one file kind.
uint64_t factory_key(PGM_COMMON_XML_FILE_ENUM file_kind, PGM_COMMON_XML_ENUM kind) {
    return static_cast<uint64_t>(static_cast<uint32_t>(file_kind)) << 32 |
           static_cast<uint32_t>(kind);
}

struct FACTORIES {
    // Hashed: the parser makes every element of every file through it.
    std::unordered_map<uint64_t, PGM_COMMON_XML_ELEMENT_FACTORY> by_kind;
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
    auto it = factories().by_kind.find(factory_key(file_kind, kind));
    return it == factories().by_kind.end() ? nullptr : it->second;
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
// a further call to find the end. `key`, when given, receives that version of the file.
bool read_file(const std::string& path, std::string* text, FILE_KEY* key) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= INT_MAX;
    if (ok && key)
        *key = key_of(info);
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

// One parser and one file buffer per thread, reused from file to file: a parser made anew
// for each file costs as much as reading a small one.
struct READER {
    xmlParserCtxtPtr parser = nullptr;
    std::string text;
    READER() = default;
    READER(const READER&) = delete;
    READER& operator=(const READER&) = delete;
    ~READER() { drop_parser(); }
    void drop_parser() {
        xmlFreeParserCtxt(parser);
        parser = nullptr;
    }
    xmlParserCtxtPtr get_parser() {
        // The parser's dictionary keeps the short texts of every file read (names, IDs);
        // start afresh before it grows without bound.
        if (parser && parser->dict && xmlDictSize(parser->dict) > 100000)
            drop_parser();
        if (!parser)
            parser = xmlNewParserCtxt();
        return parser;
    }
};

READER& reader() {
    static thread_local READER instance;
    return instance;
}

DOC read_document(const std::string& path, FILE_KEY* key, ERROR_SINK& sink) {
    READER& r = reader();
    if (!read_file(path, &r.text, key) || r.text.size() > INT_MAX) {
        sink.add(path + ": cannot read the file");
        return nullptr;
    }
    xmlParserCtxtPtr parser = r.get_parser();
    if (!parser) {
        sink.add(path + ": out of memory");
        return nullptr;
    }
    bool doctype = false;
    const size_t earlier = sink.size();
    parser->_private = &doctype;
    parser->sax->internalSubset = refuse_doctype;
    DOC doc(xmlCtxtReadMemory(parser, r.text.data(), static_cast<int>(r.text.size()), path.c_str(),
                              nullptr, XML_PARSE_NONET | XML_PARSE_BIG_LINES));
    parser->_private = nullptr;
    if (doctype) {
        // A stopped parser is not trusted with the next file.
        r.drop_parser();
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
};

// Compiled schemas by path. Never destroyed: the process ends without tearing libxml2 down.
std::map<std::string, SCHEMA>& schemas() {
    static auto* compiled = new std::map<std::string, SCHEMA>;
    return *compiled;
}

SCHEMA* get_schema(const std::string& path, ERROR_SINK& sink) {
    FILE_KEY key;
    if (!file_key(path, &key)) {
        sink.add(path + ": cannot read the schema");
        return nullptr;
    }
    auto it = schemas().find(path);
    if (it != schemas().end()) {
        if (it->second.key == key)
            return &it->second;
        xmlSchemaFreeValidCtxt(it->second.validator);
        xmlSchemaFree(it->second.schema);
        schemas().erase(it);
    }
    DOC doc = read_document(path, nullptr, sink);
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
    compiled = SCHEMA{key, std::move(doc), schema, nullptr};
    return &compiled;
}

bool validate(xmlDoc* doc, SCHEMA* schema, const std::string& xml_file, const std::string& xsd_file,
              ERROR_SINK& sink) {
    if (!schema)
        return false;
    if (!schema->validator)
        schema->validator = xmlSchemaNewValidCtxt(schema->schema);
    if (!schema->validator) {
        sink.add(xml_file + ": out of memory");
        return false;
    }
    xmlSchemaSetValidStructuredErrors(schema->validator, ERROR_SINK::collect, &sink);
    const bool valid = xmlSchemaValidateDoc(schema->validator, doc) == 0;
    xmlSchemaSetValidStructuredErrors(schema->validator, nullptr, nullptr);
    if (!valid && sink.empty())
        sink.add(xml_file + ": the file does not match the schema " + xsd_file);
    return valid;
}

// The document of the file checked last, so that the parse that follows a check reads the file
// only once.
struct CHECKED {
    std::string path;
    FILE_KEY key;
    DOC doc;
    std::string xsd;
    bool valid = false;
};

CHECKED& checked() {
    static auto* last = new CHECKED;
    return *last;
}

// The checked document of this file version when there is one (and whether it passed that
// schema), else the file read anew. `key` is the version seen before reading.
DOC take_document(const std::string& path, const std::string& xsd, bool* valid, FILE_KEY* key,
                  ERROR_SINK& sink) {
    CHECKED& last = checked();
    *valid = false;
    // Only a checked document of the same path needs the file's version before reading.
    if (last.doc && last.path == path) {
        if (!file_key(path, key)) {
            sink.add(path + ": cannot read the file");
            return nullptr;
        }
        if (*key == last.key) {
            *valid = last.valid && last.xsd == xsd;
            return std::move(last.doc);
        }
    }
    return read_document(path, key, sink);
}

// ---- Building the element tree ----------------------------------------------------------

std::string text_of(const xmlChar* text) {
    return text ? reinterpret_cast<const char*>(text) : "";
}

std::string where(const std::string& file, const xmlNode* node) {
    return file + ":" + std::to_string(xmlGetLineNo(node)) + ": ";
}

// The text of an attribute; one text child, the usual case, is read in place.
std::string attribute_text(xmlAttr* attribute) {
    const xmlNode* value = attribute->children;
    if (!value)
        return std::string();
    if (!value->next && value->type == XML_TEXT_NODE)
        return text_of(value->content);
    xmlChar* raw = xmlNodeGetContent(reinterpret_cast<xmlNode*>(attribute));
    std::string text = text_of(raw);
    xmlFree(raw);
    return text;
}

void read_attributes(PGM_COMMON_XML_ELEMENT* element, xmlNode* node, const std::string& file,
                     ERROR_SINK& sink) {
    for (xmlAttr* attribute = node->properties; attribute; attribute = attribute->next) {
        if (attribute->ns)
            continue;  // xsi:noNamespaceSchemaLocation and the like are not database content
        const std::string name = text_of(attribute->name);
        const std::string value = attribute_text(attribute);
        if (!element->read_attribute_text(name, value)) {
            sink.add(where(file, node) + "the attribute '" + name + "' of element '" +
                     element->get_name() + "' is unknown or has an invalid value '" + value + "'");
        }
    }
}

void read_children(PGM_COMMON_XML_FILE_ENUM file_kind, PGM_COMMON_XML_ELEMENT* element,
                   xmlNode* node, const std::string& file, ERROR_SINK& sink) {
    read_attributes(element, node, file, sink);
    // Only value elements keep their text; the blanks between the children of the others
    // are not collected.
    const bool has_value = element->get_value_type() != PGM_XML_TYPE_NONE;
    std::string text;
    for (xmlNode* child = node->children; child; child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
            if (has_value && child->content)
                text += reinterpret_cast<const char*>(child->content);
            continue;
        }
        if (child->type != XML_ELEMENT_NODE)
            continue;
        PGM_COMMON_XML_ENUM kind;
        const char* name = reinterpret_cast<const char*>(child->name);
        if (!HOST_DETAIL::kind_from_name(name ? name : "", &kind)) {
            sink.add(where(file, child) + "the unknown element '" + text_of(child->name) +
                     "' is skipped");
            continue;
        }
        PGM_COMMON_XML_ELEMENT* typed = PGM_COMMON_XML::create_element(file_kind, kind);
        read_children(file_kind, typed, child, file, sink);
        element->add_child(typed, nullptr);
    }
    if (has_value && !element->read_value_text(text)) {
        sink.add(where(file, node) + "the element '" + element->get_name() +
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
        ok = ok && (text.empty() ||
                    (xmlCheckUTF8(BAD_CAST text.c_str()) &&
                     xmlNewProp(node, BAD_CAST attribute.name.c_str(), BAD_CAST text.c_str())));
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

bool write_all(int fd, const char* data, size_t size) {
    while (size) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0)
            return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Replaces a file through a temporary file in the same folder and a rename.
bool replace_file(const std::string& file, const char* data, size_t size) {
    const size_t slash = file.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : file.substr(0, slash + 1);
    std::string temp = dir + "." + file.substr(slash + 1) + ".XXXXXX";
    const int fd = ::mkstemp(&temp[0]);
    if (fd < 0)
        return false;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bool ok = write_all(fd, data, size) && ::fchmod(fd, 0666 & ~mask) == 0 && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temp.c_str(), file.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}
}  // namespace

void PGM_COMMON_XML::check_xsd(const std::string& xml_file, const std::string& xsd_file,
                               std::string& error, std::string& error2) {
    init_libxml();
    ERROR_SINK sink(xml_file);
    bool valid = false;
    FILE_KEY key;
    DOC doc;
    if (SCHEMA* schema = get_schema(xsd_file, sink)) {
        bool known_valid = false;
        doc = take_document(xml_file, xsd_file, &known_valid, &key, sink);
        valid = doc && validate(doc.get(), schema, xml_file, xsd_file, sink);
    }
    error = valid || sink.empty() ? std::string() : sink.messages()[0];
    error2 = valid ? std::string() : join(sink.messages(), 1);
    if (!valid && error.empty())
        error = xml_file + ": the file cannot be checked";

    CHECKED& last = checked();
    last.doc.reset();
    if (doc) {
        last.path = xml_file;
        last.key = key;
        last.doc = std::move(doc);
        last.xsd = xsd_file;
        last.valid = valid;
    }
}

PGM_COMMON_XML_ELEMENT* PGM_COMMON_XML::parse_xml(PGM_COMMON_XML_FILE_ENUM file_kind,
                                                  const std::string& xml_file,
                                                  const std::string& xsd_file, bool golden,
                                                  std::string& error, std::string& warning,
                                                  std::string& info) {
    init_libxml();
    ERROR_SINK sink(xml_file);
    bool valid = false;
    FILE_KEY key;
    DOC doc = take_document(xml_file, xsd_file, &valid, &key, sink);
    // The element classes trust the structure the schema guarantees; a user file that skipped
    // the check is checked here.
    if (doc && !golden && !xsd_file.empty() && !valid &&
        !validate(doc.get(), get_schema(xsd_file, sink), xml_file, xsd_file, sink))
        doc.reset();

    const PGM_COMMON_XML_ENUM kind = root_kind(file_kind);
    PGM_COMMON_XML_ELEMENT* root = create_element(file_kind, kind);
    xmlNode* node = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (node && text_of(node->name) != pgm_common_xml_enum_name(kind)) {
        sink.add(where(xml_file, node) + "the root element is '" + text_of(node->name) +
                 "', expected '" + pgm_common_xml_enum_name(kind) + "'");
        node = nullptr;
    }
    if (node) {
        read_children(file_kind, root, node, xml_file, sink);
        root->check_child_count();
        std::vector<std::string> count_errors;
        collect_count_errors(root, xml_file, &count_errors);
        warning = join(count_errors);
    } else if (sink.empty()) {
        sink.add(xml_file + ": the file has no root element");
    }
    error = join(sink.messages());
    info.clear();
    return root;
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
        replace_file(xml_file, reinterpret_cast<const char*>(text), static_cast<size_t>(size));
    xmlFree(text);
    return ok;
}

void PGM_COMMON_XML::register_element_factory(PGM_COMMON_XML_FILE_ENUM file_kind,
                                              PGM_COMMON_XML_ENUM kind,
                                              PGM_COMMON_XML_ELEMENT_FACTORY factory) {
    factories().root.emplace(file_kind, kind);
    factories().by_kind[factory_key(file_kind, kind)] = factory;
}

PGM_COMMON_XML_ELEMENT* PGM_COMMON_XML::create_element(PGM_COMMON_XML_FILE_ENUM file_kind,
                                                       PGM_COMMON_XML_ENUM kind) {
    PGM_COMMON_XML_ELEMENT_FACTORY factory = find_factory(file_kind, kind);
    PGM_COMMON_XML_ELEMENT* element = factory ? factory() : nullptr;
    return element ? element
                   : new PGM_COMMON_XML_ELEMENT(kind, kind, PGM_XML_TYPE_NONE, PGM_XML_EXIST_NONE,
                                                "", "", nullptr);
}
