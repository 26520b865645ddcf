// The host folder check: what a manager needs of the folder before it is built.
#include "pgm/gfpdb/gfpdb_host_check.h"

#include <cstdlib>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "host/fio.h"
#include "host/msg.h"
#include "host/pgm_common_xml.h"
#include "pgm/gfpdb/gfpdb_file_walk.h"
#include "pgm/gfpdb/gfpdb_internal.h"
#include "pgm/gfpdb/gfpdb_qspi_mgr.h"
#include "pgm/gfpdb/gfpdb_sdmmc_mgr.h"

namespace {

// The golden files and the schemas that read them, under the host folder.
struct GOLDEN_FILE {
    PGM_COMMON_XML_FILE_ENUM kind;
    const char* file;
    const char* schema;
    bool sdmmc;
};
const GOLDEN_FILE golden_files[] = {
    {PGM_COMMON_XML_FILE_GFPDB_QSPI, "xml/pgm_flash_db_qspi.xml", "xsd/gfpdb_qspi.xsd", false},
    {PGM_COMMON_XML_FILE_GFPDB_SDMMC, "xml/pgm_flash_db_sdmmc.xml", "xsd/gfpdb_sdmmc.xsd", true},
};

// Elements the QSPI loader requires exactly once beyond the element classes' own counts: the
// golden templates and the programming flow of each.
std::string missing_vendor(const PGM_COMMON_XML_ELEMENT* root) {
    const auto one = [](const PGM_COMMON_XML_ELEMENT* parent, PGM_COMMON_XML_ENUM kind) {
        return parent->get_child_count(kind) == 1 ? parent->get_childs(kind).front() : nullptr;
    };
    const PGM_COMMON_XML_ELEMENT* golden = one(root, PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE);
    if (!golden)
        return "exactly one GOLDEN_TEMPLATE is required";
    for (PGM_COMMON_XML_ENUM vendor : gfpdb_golden_template_element) {
        const PGM_COMMON_XML_ELEMENT* element = one(golden, vendor);
        if (!element || !one(element, PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW))
            return std::string("GOLDEN_TEMPLATE requires exactly one ") +
                   pgm_common_xml_enum_name(vendor) + " with one PROGRAMMING_FLOW";
    }
    return "";
}

// A validator explains a refusal only with a warning posted beside it; the check names the
// problem itself, so the host's message window stays quiet while it runs.
class QUIET_WARNINGS {
public:
    QUIET_WARNINGS() {
        MSG_INDEX* index = MSG_INDEX::get_default_index();
        for (unsigned id = first; id <= last; ++id)
            if (!index->is_filtered(id)) {
                index->set_filtered(id, true);
                m_quieted.push_back(id);
            }
    }
    ~QUIET_WARNINGS() {
        for (unsigned id : m_quieted)
            MSG_INDEX::get_default_index()->set_filtered(id, false);
    }
    QUIET_WARNINGS(const QUIET_WARNINGS&) = delete;
    QUIET_WARNINGS& operator=(const QUIET_WARNINGS&) = delete;

private:
    static constexpr unsigned first = GFPDB_INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR;
    static constexpr unsigned last = GFPDB_INVALID_TEMPLATE_NAME_CONFLICT_WITH_TEMPLATE_DATABASE;
    std::vector<unsigned> m_quieted;
};

// Puts every value of a golden file to the loader's validators; the first one refused is the
// problem, at its line.
class GOLDEN_VALUES : public GFPDB_FILE_WALK {
public:
    using GFPDB_FILE_WALK::GFPDB_FILE_WALK;

    std::string problem(const PGM_COMMON_XML_ELEMENT* root) {
        const QUIET_WARNINGS quiet;
        walk(root);
        return m_problem;
    }

private:
    bool stopped() const override { return !m_problem.empty(); }

    // Keeps the first problem found: the one loading would stop at.
    void found(const ELEMENT& at, const std::string& place, const std::string& message) {
        if (!m_problem.empty())
            return;
        const unsigned line = line_of(at);
        m_problem = m_file + (line ? ":" + std::to_string(line) : std::string()) + ": " + place +
                    ": " + message;
    }

    void device(const ELEMENT&, const ELEMENT& name, const std::string& place) override {
        if (!gfpdb_name_fits_file_name(text_of(name)))
            found(name, place,
                  "the name is empty, holds a folder separator or a character a file cannot "
                  "hold.");
    }
    void device_value(const ELEMENT& leaf, GFPDB_FLASH_PARAM param,
                      const std::string& place) override {
        std::string error;
        if (leaf.element && !device_value_is_valid(param, text_of(leaf), &error))
            found(leaf, place, error);  // a missing one is the element counts' problem
    }
    void device_end(const ELEMENT& name, const std::string& place) override {
        const auto earlier = m_names.emplace(text_of(name), name);
        if (!earlier.second)
            found(name, place,
                  "a device of this name is defined before, at line " +
                      std::to_string(line_of(earlier.first->second)) + ".");
    }
    void unknown_action_type(const ELEMENT& action, const std::string& type,
                             const std::string& place) override {
        found(action, place, "unknown action type '" + type + "'.");
    }
    void missing_property(const ELEMENT& action, GFPDB_ACT_PROPERTY property,
                          const std::string& place) override {
        found(action, place,
              std::string("the action lacks its ") +
                  pgm_common_xml_enum_name(gfpdb_qspi_property_element(property)) + " element.");
    }
    void property_value(const ELEMENT& value, GFPDB_ACTION& model, GFPDB_ACT_PROPERTY property,
                        const std::string& place) override {
        const std::string text = text_of(value);
        // Loading reads a line-break escape in a description, which takes two characters.
        if (property == GFPDB_ACT_PROPERTY_CUSTOM_DESCRIPTION && text.size() < 2) {
            found(value, place, "the description '" + text + "' has fewer than two characters.");
            return;
        }
        std::string error;
        if (!model.property_value_is_valid(property, text, &error))
            found(value, place, error);
    }

    std::map<std::string, ELEMENT> m_names;  // of the devices read, with their elements
    std::string m_problem;
};
}  // namespace

std::string GFPDB_HOST_CHECK::problem(const std::string& host_dir, bool with_sdmmc) {
    const std::string folder =
        host_dir.empty() || host_dir.back() == '/' ? host_dir : host_dir + "/";
    if (folder.empty() || !FIO_FILE_SYSTEM::exists(folder))
        return "'" + host_dir + "' does not exist";
    for (const GOLDEN_FILE& golden : golden_files) {
        if (golden.sdmmc && !with_sdmmc)
            continue;
        const std::string file = folder + golden.file;
        const std::string schema = folder + golden.schema;
        if (!FIO_FILE_SYSTEM::exists(file))
            return file + " is missing";
        if (!FIO_FILE_SYSTEM::exists(schema))
            return schema + " is missing";
        std::string error, counts, info;
        const std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(
            PGM_COMMON_XML::parse_xml(golden.kind, file, schema, true, error, counts, info));
        if (error.empty() && counts.empty() && !golden.sdmmc)
            counts = missing_vendor(root.get());
        // The reader's first text; it mostly names the file and the line already.
        const std::string texts = error.empty() ? counts : error;
        if (!texts.empty()) {
            const std::string broken = texts.substr(0, texts.find('\n'));
            return broken.compare(0, file.size(), file) == 0 ? broken
                                                             : file + " is broken: " + broken;
        }
        std::string value;
        if (golden.sdmmc) {
            GFPDB_SDMMC_MGR validator{GFPDB_SDMMC_MGR::UNLOADED{}};
            value = GOLDEN_VALUES(validator, file).problem(root.get());
        } else {
            GFPDB_QSPI_MGR validator{GFPDB_QSPI_MGR::UNLOADED{}};
            value = GOLDEN_VALUES(validator, file).problem(root.get());
        }
        if (!value.empty())
            return value;
    }
    return "";
}
