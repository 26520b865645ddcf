// Writes the seed corpora of the fuzz targets from the bundled database and the writers'
// output: user device and template files as the QSPI and SD/MMC managers save them, the
// round-trip encoding of built-in devices, and every action value of the golden file.
//
//   fuzz_make_seed_corpora <corpus folder>   (one subfolder per target, replaced)
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "pgm/gfpdb/gfpdb_qspi_mgr.h"
#include "pgm/gfpdb/gfpdb_sdmmc_mgr.h"
#include "round_trip_format.h"

namespace {

using namespace gfpdb_fuzz;

// Small enough to keep in the repository, large enough to reach every action type.
constexpr size_t qspi_file_seeds = 4;

void save(const std::string& dir, const std::string& name, const std::string& text) {
    write_file(dir + name, text.data(), text.size());
}

RT_DEVICE encode_flash(GFPDB_FLASH* flash, const std::string& name) {
    RT_DEVICE d;
    d.name = name;
    d.id = flash->get_parameter_value(GFPDB_FLASH_PARAM_ID);
    d.voltage = flash->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE);
    d.density = flash->get_density();
    d.die = std::to_string(flash->get_parameter_value_in_dword(GFPDB_FLASH_PARAM_TOTAL_DIE));
    d.dummy =
        std::to_string(flash->get_parameter_value_in_dword(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE));
    d.dummy_x4 =
        std::to_string(flash->get_parameter_value_in_dword(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4));
    d.prog_flow_template = flash->get_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE);
    for (GFPDB_PROG_FLOW_TYPE flow : {GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_PROG_FLOW_TYPE_SDM}) {
        for (GFPDB_OPERATION* op : *flash->get_operation_list(flow)) {
            for (GFPDB_ACTION* action : *op->get_action_list()) {
                RT_ACTION a{flow, op->get_operation_type(), action->get_action_type(), {}};
                for (GFPDB_ACT_PROPERTY p : action->get_property_enum_list())
                    a.values.push_back(action->get_property_value(p));
                d.actions.push_back(a);
            }
        }
    }
    return d;
}

void collect_values(GFPDB_OPERATION* op, std::set<std::string>* values) {
    for (GFPDB_ACTION* action : *op->get_action_list()) {
        for (GFPDB_ACT_PROPERTY p : action->get_property_enum_list())
            values->insert(std::string(1, static_cast<char>(p)) + action->get_property_value(p));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const std::string out = std::string(argv[1]) + "/";
    for (const char* target : {"qspi_file", "sdmmc_file", "values", "round_trip"}) {
        fs::remove_all(out + target);
        fs::create_directories(out + target);
    }
    SANDBOX& sandbox = SANDBOX::get();
    // The whole bundled database, not the fuzzing cut.
    PGM_COMMON::set_common_programmer(std::string(GFPDB_SOURCE_DIR) + "/data/");
    const std::string dir = sandbox.custom_dir();

    std::vector<std::pair<std::string, RT_DEVICE>> devices;
    std::set<std::string> values;
    {
        GFPDB_QSPI_MGR golden;
        for (const std::string& name :
             golden.get_new_config_device_list(DEV_FAMILY_NONE, PGMIO_CONFIG_SCHEME_NONE, true)) {
            GFPDB_FLASH* flash = golden.get_flash(name, true);
            devices.emplace_back(name, encode_flash(flash, "USER_" + name));
            for (GFPDB_PROG_FLOW_TYPE flow : {GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_PROG_FLOW_TYPE_SDM}) {
                for (GFPDB_OPERATION* op : *flash->get_operation_list(flow))
                    collect_values(op, &values);
            }
            values.insert(std::string(1, '\0') + flash->get_parameter_value(GFPDB_FLASH_PARAM_ID));
        }
    }
    // One device also saves its flow as a user template.
    devices.front().second.template_name = "User_flow";
    // A compact device, one action of each type, whose file is small enough to mutate fast.
    RT_DEVICE compact = devices.front().second;
    compact.name = "USER_COMPACT";
    compact.template_name = "Compact_flow";
    compact.actions.clear();
    for (const auto& [name, device] : devices) {
        for (const RT_ACTION& action : device.actions) {
            bool seen = false;
            for (const RT_ACTION& kept : compact.actions)
                seen = seen || kept.type == action.type;
            if (!seen)
                compact.actions.push_back(action);
        }
    }
    devices.insert(devices.begin(), {"COMPACT", compact});

    int count = 0;
    for (const std::string& value : values)
        save(out + "values/", "value_" + std::to_string(++count), value);

    count = 0;
    for (const auto& [name, device] : devices) {
        save(out + "round_trip/", "device_" + name, encode_device(device));
        // The writers' output of the first few, as user files of the custom folder.
        if (static_cast<size_t>(count++) >= qspi_file_seeds)
            continue;
        SANDBOX::empty(dir);
        GFPDB_QSPI_MGR mgr;
        GFPDB_FLASH* flash = build_device(mgr, device);
        if (!flash || !mgr.update_db(flash, dir)) {
            std::fprintf(stderr, "%s cannot be saved\n", name.c_str());
            return 1;
        }
        for (const auto& entry : fs::directory_iterator(dir))
            fs::copy_file(entry.path(), out + "qspi_file/" + entry.path().filename().string());
    }

    {
        GFPDB_SDMMC_MGR golden;
        for (const std::string& name : golden.get_new_config_device_list(
                 DEV_FAMILY_SDMMC_DEFAULT, PGMIO_CONFIG_SCHEME_SDMMC_X1, true)) {
            GFPDB_FLASH* card = golden.get_flash(name, true);
            SANDBOX::empty(dir);
            GFPDB_SDMMC_MGR mgr;
            GFPDB_FLASH* copy = mgr.create_flash("USER_" + name);
            copy->set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE,
                                      card->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE));
            copy->set_density(card->get_density());
            if (!mgr.update_db(copy, dir)) {
                std::fprintf(stderr, "%s cannot be saved\n", name.c_str());
                return 1;
            }
            fs::copy_file(dir + "pgm_flash_USER_" + name + ".xml",
                          out + "sdmmc_file/pgm_flash_USER_" + name + ".xml");
        }
    }
    SANDBOX::empty(dir);
    return 0;
}
