// File functions of the host's XML document library: schema check, typed parsing, writing.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "host/host_export.h"
#include "pgm/h/pgm_common_xml_export.h"

enum PGM_COMMON_XML_FILE_ENUM {
    PGM_COMMON_XML_FILE_INVALID = 0,
    PGM_COMMON_XML_FILE_GFPDB_QSPI = 2,
    PGM_COMMON_XML_FILE_GFPDB_SDMMC = 3
};

// Makes a new element of one kind for a file kind; registered by the module that owns the
// element classes.
using PGM_COMMON_XML_ELEMENT_FACTORY = PGM_COMMON_XML_ELEMENT* (*)();

class HOST_EXPORT PGM_COMMON_XML {
public:
    // Validates a file against a schema (compiled once per path and modification time).
    // Both texts stay empty for a valid file; otherwise `error` holds the first problem with
    // file and line, and `error2` the rest. A parse_xml of the same file that follows builds
    // its tree from what the check read, so that the file is read and parsed once.
    static void check_xsd(const std::string& xml_file, const std::string& xsd_file,
                          std::string& error, std::string& error2);

    // While one lives on a thread, each schema is looked at on disk once, not once for every
    // file checked against it: for a loader reading a folder of files against one schema.
    class HOST_EXPORT SCHEMA_HOLD {
    public:
        SCHEMA_HOLD();
        ~SCHEMA_HOLD();
        SCHEMA_HOLD(const SCHEMA_HOLD&) = delete;
        SCHEMA_HOLD& operator=(const SCHEMA_HOLD&) = delete;
    };

    // Builds the typed element tree of a file. Never null: a file that cannot be read yields an
    // empty root of the file kind, with the reason in `error`. Count problems found by the
    // element classes go to `warning`. External entities, DTDs and the network are never
    // loaded. `golden` files are trusted and read without a schema.
    static PGM_COMMON_XML_ELEMENT* parse_xml(PGM_COMMON_XML_FILE_ENUM file_kind,
                                             const std::string& xml_file,
                                             const std::string& xsd_file, bool golden,
                                             std::string& error, std::string& warning,
                                             std::string& info);

    // The FIO_FILE_SYSTEM::signature of the version of the file that the last check or parse
    // read, taken when it was opened; empty when the last file read was another one or was
    // not read. Spares a loader that records what it read a second look at every file.
    static std::string read_signature(const std::string& xml_file);

    // Writes the tree as indented UTF-8, replacing the file through a temporary file and a
    // rename so that no reader sees half a file. The tree stays the caller's.
    static bool write_xml(const PGM_COMMON_XML_ELEMENT* root, const std::string& xml_file);

    // The line of every element of a file, keyed by its path from the root with the 1-based
    // position among same-named siblings on every step, such as
    // "QSPI_FLASH[1]/FLASH[2]/PROGRAMMING_FLOW[1]/SFL[1]/PROGRAM[1]/ACTION[3]". Lets a front end
    // point at the line of a record or action. Empty when the file cannot be read or parsed.
    static std::map<std::string, unsigned> element_lines(const std::string& xml_file);

    // Whether a file can hold the text and give it back unchanged: UTF-8 of characters that
    // XML 1.0 allows (no control characters but tab, line feed and carriage return).
    static bool is_storable_text(const std::string& text);

    // The element classes of a file kind; a kind without a factory is read as a plain element.
    static void register_element_factory(PGM_COMMON_XML_FILE_ENUM file_kind,
                                         PGM_COMMON_XML_ENUM kind,
                                         PGM_COMMON_XML_ELEMENT_FACTORY factory);
    static PGM_COMMON_XML_ELEMENT* create_element(PGM_COMMON_XML_FILE_ENUM file_kind,
                                                  PGM_COMMON_XML_ENUM kind);
};
