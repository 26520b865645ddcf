// The host folder check: what a manager needs of the folder before it is built.
#include "pgm/gfpdb/gfpdb_host_check.h"

#include <memory>

#include "host/fio.h"
#include "host/pgm_common_xml.h"

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
const PGM_COMMON_XML_ENUM golden_vendors[] = {
    PGM_COMMON_XML_ENUM_MICRON, PGM_COMMON_XML_ENUM_MACRONIX, PGM_COMMON_XML_ENUM_CYPRESS,
    PGM_COMMON_XML_ENUM_WINBOND};

std::string missing_vendor(const PGM_COMMON_XML_ELEMENT* root) {
    const auto one = [](const PGM_COMMON_XML_ELEMENT* parent, PGM_COMMON_XML_ENUM kind) {
        return parent->get_child_count(kind) == 1 ? parent->get_childs(kind).front() : nullptr;
    };
    const PGM_COMMON_XML_ELEMENT* golden = one(root, PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE);
    if (!golden)
        return "exactly one GOLDEN_TEMPLATE is required";
    for (PGM_COMMON_XML_ENUM vendor : golden_vendors) {
        const PGM_COMMON_XML_ELEMENT* element = one(golden, vendor);
        if (!element || !one(element, PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW))
            return std::string("GOLDEN_TEMPLATE requires exactly one ") +
                   pgm_common_xml_enum_name(vendor) + " with one PROGRAMMING_FLOW";
    }
    return "";
}
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
        if (!error.empty() || !counts.empty())
            return file + " is broken: " + (error.empty() ? counts : error);
    }
    return "";
}
