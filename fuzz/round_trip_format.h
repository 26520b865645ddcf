// The input of the round-trip target: the texts of one QSPI device, separated by the
// record-separator byte (0x1E), so that any byte sequence reads as a device.
//
//   name, ID, I/O voltage, density, total die, dummy clock cycle, dummy clock cycle x4,
//   programming flow template, template name (empty: none),
//   then per action a header "<flow><operation><type>" (three digits: 0 SFL or 1 SDM, the
//   operation type 0 to 4, the action type 0 to 5) followed by its property values in order.
//
// Missing texts are empty; a header character counts from '0' and wraps at its range.
#pragma once

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "pgm/gfpdb/gfpdb_mgr.h"

namespace gfpdb_fuzz {

constexpr char FIELD_SEPARATOR = '\x1e';

struct RT_ACTION {
    GFPDB_PROG_FLOW_TYPE flow;
    GFPDB_OP_TYPE operation;
    GFPDB_ACT_TYPE type;
    std::vector<std::string> values;  // one per property of the type, in order
};

struct RT_DEVICE {
    std::string name, id, voltage, density, die, dummy, dummy_x4, prog_flow_template, template_name;
    std::vector<RT_ACTION> actions;
};

// The properties each action type carries.
inline size_t property_count(GFPDB_ACT_TYPE type) {
    static const size_t counts[GFPDB_ACT_TYPE_COUNT] = {5, 8, 8, 10, 7, 2};
    return counts[type];
}

inline std::vector<std::string> split_fields(const std::string& input) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t end = input.find(FIELD_SEPARATOR, start);
        fields.push_back(input.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos)
            return fields;
        start = end + 1;
    }
}

inline RT_DEVICE decode_device(const std::string& input) {
    const std::vector<std::string> fields = split_fields(input);
    size_t next = 0;
    auto take = [&]() { return next < fields.size() ? fields[next++] : std::string(); };
    RT_DEVICE d;
    d.name = take();
    d.id = take();
    d.voltage = take();
    d.density = take();
    d.die = take();
    d.dummy = take();
    d.dummy_x4 = take();
    d.prog_flow_template = take();
    d.template_name = take();
    while (next < fields.size()) {
        const std::string header = take();
        auto digit = [&](size_t i, int range) {
            return i < header.size() ? static_cast<unsigned char>(header[i] - '0') % range : 0;
        };
        RT_ACTION action{static_cast<GFPDB_PROG_FLOW_TYPE>(digit(0, 2)),
                         static_cast<GFPDB_OP_TYPE>(digit(1, GFPDB_OP_TYPE_COUNT)),
                         static_cast<GFPDB_ACT_TYPE>(digit(2, GFPDB_ACT_TYPE_COUNT)),
                         {}};
        for (size_t i = 0; i < property_count(action.type); ++i)
            action.values.push_back(take());
        d.actions.push_back(action);
    }
    return d;
}

inline bool number_of(const std::string& text, uint32_t* value) {
    bool ok = false;
    *value = PGM_COMMON::convert_string_to_dword(text, true, &ok);
    return ok;
}

// The manager's new record of the device, or null when a value fails its validator.
inline GFPDB_FLASH* build_device(GFPDB_MGR& mgr, const RT_DEVICE& d) {
    uint32_t die = 0, dummy = 0, dummy_x4 = 0;
    if (!number_of(d.die, &die) || !number_of(d.dummy, &dummy) || !number_of(d.dummy_x4, &dummy_x4))
        return nullptr;
    const bool valid =
        mgr.is_parameter_valid(GFPDB_FLASH_PARAM_NAME, d.name, nullptr) &&
        mgr.is_parameter_valid(GFPDB_FLASH_PARAM_ID, d.id, nullptr) &&
        mgr.is_parameter_valid(GFPDB_FLASH_PARAM_IO_VOLTAGE, d.voltage, nullptr) &&
        mgr.is_parameter_valid(GFPDB_FLASH_PARAM_DENSITY, d.density, nullptr) &&
        mgr.is_parameter_valid(GFPDB_FLASH_PARAM_TOTAL_DIE, die, nullptr) &&
        mgr.is_parameter_valid(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, dummy, nullptr) &&
        mgr.is_parameter_valid(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, dummy_x4, nullptr) &&
        mgr.is_parameter_valid(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, d.prog_flow_template,
                               nullptr) &&
        (d.template_name.empty() ||
         mgr.is_parameter_valid(GFPDB_FLASH_PARAM_TEMPLATE_NAME, d.template_name, nullptr));
    if (!valid)
        return nullptr;

    std::vector<GFPDB_OPERATION*> flows[2];
    for (auto& flow : flows) {
        for (int op = 0; op < GFPDB_OP_TYPE_COUNT; ++op)
            flow.push_back(mgr.create_operation(static_cast<GFPDB_OP_TYPE>(op)));
    }
    bool actions_valid = true;
    for (const RT_ACTION& a : d.actions) {
        GFPDB_ACTION* action = mgr.create_action(a.type);
        const std::vector<GFPDB_ACT_PROPERTY> properties = action->get_property_enum_list();
        FUZZ_CHECK(properties.size() == a.values.size());
        for (size_t i = 0; i < properties.size(); ++i) {
            actions_valid =
                actions_valid && action->property_value_is_valid(properties[i], a.values[i]);
            action->set_property_value(properties[i], a.values[i]);
        }
        flows[a.flow][a.operation]->add_action_into_list(action);
    }
    GFPDB_FLASH* flash = mgr.create_flash(d.name);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_ID, d.id);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, d.voltage);
    flash->set_density(d.density);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_TOTAL_DIE, die);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, dummy);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, dummy_x4);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, d.prog_flow_template);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME, d.template_name);
    flash->set_operation_list(flows[GFPDB_PROG_FLOW_TYPE_SFL], GFPDB_PROG_FLOW_TYPE_SFL);
    flash->set_operation_list(flows[GFPDB_PROG_FLOW_TYPE_SDM], GFPDB_PROG_FLOW_TYPE_SDM);
    // An invalid action leaves the record to the manager, which releases an unsaved one.
    return actions_valid ? flash : nullptr;
}

}  // namespace gfpdb_fuzz
