#include "host/pgmdev.h"

#include <fstream>
#include <functional>
#include <utility>

#include "host/host_detail.h"
#include "host/pgm_common.h"

namespace {
std::vector<std::string> split_fields(const std::string& line) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == ',')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

void report(const std::string& where, const std::string& why) {
    HOST_DETAIL::report_once(where, "Error: " + where + ": " + why);
}

// Reads one table of the device folder: a header line, then one record per line. `take`
// accepts the fields of a line or says what is wrong with them; a bad line is reported and
// skipped, the good ones stay.
using TAKE_LINE = std::function<std::string(const std::vector<std::string>& fields)>;
void read_table(const char* name, const char* header, const TAKE_LINE& take) {
    const std::string path = PGM_COMMON::pgm_get_common_programmer() + "device/" + name;
    std::ifstream in(path);
    if (!in) {
        report(path, "cannot read the device table; it is taken as empty");
        return;
    }
    const size_t field_count = split_fields(header).size();
    bool header_seen = false;
    size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (HOST_DETAIL::trim(line).empty() || line[0] == '#')
            continue;
        const std::string where = path + ":" + std::to_string(number);
        if (!header_seen) {
            header_seen = true;
            if (line != header) {
                report(where, std::string("the header must read \"") + header +
                                  "\"; the table is taken as empty");
                return;
            }
            continue;
        }
        const std::vector<std::string> fields = split_fields(line);
        const std::string why = fields.size() != field_count
                                    ? "expected " + std::to_string(field_count) +
                                          " fields, found " + std::to_string(fields.size())
                                    : take(fields);
        if (!why.empty())
            report(where, why + "; the line is skipped");
    }
}

// A flag is written "0" or "1".
bool read_flag(const std::string& text, bool* flag, std::string* why) {
    if (text != "0" && text != "1") {
        *why = "the flag '" + text + "' is neither 0 nor 1";
        return false;
    }
    *flag = text == "1";
    return true;
}
}  // namespace

PGMDEV_DEVICE_INFO::PGMDEV_DEVICE_INFO(DEV_FAMILY_ENUM family, std::string name, bool qspi,
                                       bool sdmmc, bool sdm, std::string flash_io_voltage)
    : m_family(family),
      m_name(std::move(name)),
      m_qspi(qspi),
      m_sdmmc(sdmmc),
      m_sdm(sdm),
      m_flash_io_voltage(std::move(flash_io_voltage)) {}

PGMDEV_DEV_INFO_MANAGER::PGMDEV_DEV_INFO_MANAGER(bool, unsigned long) {
    read_table("families.csv", "family,name,qspi,sdmmc,sdm,flash_io_voltage",
               [this](const std::vector<std::string>& f) -> std::string {
                   bool ok = false;
                   const uint32_t last = DEV_FAMILY_LAST;
                   const uint32_t family =
                       PGM_COMMON::convert_string_to_dword(f[0], true, &ok, &last);
                   if (!ok || family == 0 || f[0].compare(0, 2, "0x") == 0)
                       return "the family '" + f[0] + "' is not a number from 1 to " +
                              std::to_string(DEV_FAMILY_LAST);
                   if (m_families.count(static_cast<int>(family)))
                       return "the family " + f[0] + " is listed twice";
                   bool qspi = false, sdmmc = false, sdm = false;
                   std::string why;
                   if (!read_flag(f[2], &qspi, &why) || !read_flag(f[3], &sdmmc, &why) ||
                       !read_flag(f[4], &sdm, &why))
                       return why;
                   m_families.emplace(static_cast<int>(family),
                                      PGMDEV_DEVICE_INFO(static_cast<DEV_FAMILY_ENUM>(family), f[1],
                                                         qspi, sdmmc, sdm, f[5]));
                   return std::string();
               });
}

PGMDEV_DEV_INFO_MANAGER::~PGMDEV_DEV_INFO_MANAGER() = default;

const PGMDEV_DEVICE_INFO* PGMDEV_DEV_INFO_MANAGER::get_db_by_family(DEV_FAMILY_ENUM family) const {
    auto it = m_families.find(static_cast<int>(family));
    return it == m_families.end() ? nullptr : &it->second;
}

PGMDEV_FLASH_INFO::PGMDEV_FLASH_INFO(std::string name, bool supported, std::string io_voltage)
    : m_name(std::move(name)), m_supported(supported), m_io_voltage(std::move(io_voltage)) {}

PGMDEV_FLASH_MANAGER::PGMDEV_FLASH_MANAGER(bool, unsigned long, bool, bool) {
    read_table("flash_list.csv", "name,supported,io_voltage",
               [this](const std::vector<std::string>& f) -> std::string {
                   if (f[0].empty())
                       return "the flash name is empty";
                   bool supported = false;
                   std::string why;
                   if (!read_flag(f[1], &supported, &why))
                       return why;
                   m_flashes.emplace_back(f[0], supported, f[2]);
                   return std::string();
               });
}

PGMDEV_FLASH_MANAGER::~PGMDEV_FLASH_MANAGER() = default;
