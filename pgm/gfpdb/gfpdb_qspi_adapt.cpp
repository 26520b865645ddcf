// Fitting a template's flows to one device.
#include "pgm/gfpdb/gfpdb_qspi_adapt.h"

#include <algorithm>
#include <cctype>

#include "pgm/gfpdb/gfpdb_internal.h"
#include "pgm/gfpdb/gfpdb_qspi_action.h"
#include "pgm/gfpdb/gfpdb_qspi_facts.h"

using namespace gfpdb_qspi_facts;

namespace {

const char* const source = "pgm/gfpdb/gfpdb_qspi_adapt";

// Names of 4-byte actions as the golden templates spell them.
const char* const four_byte_prefix = "4 byte ";

const GFPDB_PROG_FLOW_TYPE flows[] = {GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_PROG_FLOW_TYPE_SDM};
const char* const flow_names[] = {"SFL", "SDM"};

std::string name_of(GFPDB_ACTION* action) {
    const int type = action->get_action_type();
    if (type == GFPDB_ACT_TYPE_CUSTOM)
        return action->get_property_value(GFPDB_ACT_PROPERTY_CUSTOM_DESCRIPTION);
    return action->get_property_value(
        static_cast<GFPDB_ACT_PROPERTY>(role_property[type][ROLE_COMMAND] - 1));
}

bool writes(GFPDB_ACTION* action, int command) {
    return action->get_action_type() == GFPDB_ACT_TYPE_WRITE_REGISTER &&
           command_of(action) == command;
}

// A step that switches the address mode either way: 0xB7, 0xE9 or a bank register write.
bool switches_address_mode(GFPDB_ACTION* action) {
    return writes(action, OP_ENTER_4BYTE) || writes(action, OP_EXIT_4BYTE) ||
           writes(action, OP_WRITE_BANK);
}

// Where the switch is a write enable, the switch and its read-back (a single read of a
// register) that the switch alone needs.
class OPERATION_EDIT {
public:
    OPERATION_EDIT(GFPDB_OPERATION* operation, std::vector<std::string>& changes,
                   const std::string& where)
        : m_operation(operation), m_changes(changes), m_where(where) {}

    // Drops the address-mode switches with the write enable just before and the single
    // read-back just after each.
    void drop_address_switches() {
        std::vector<GFPDB_ACTION*> actions = *m_operation->get_action_list();
        std::vector<bool> drop(actions.size(), false);
        for (size_t i = 0; i < actions.size(); ++i) {
            if (!switches_address_mode(actions[i]))
                continue;
            drop[i] = true;
            if (i > 0 && writes(actions[i - 1], OP_WRITE_ENABLE))
                drop[i - 1] = true;
            if (i + 1 < actions.size() &&
                actions[i + 1]->get_action_type() == GFPDB_ACT_TYPE_READ_REGISTER &&
                actions[i + 1]->get_property_value_in_dword(
                    GFPDB_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT) <= 1)
                drop[i + 1] = true;
        }
        // The survivors are copied before the operation deletes every action it holds.
        std::vector<GFPDB_ACTION*> kept;
        for (size_t i = 0; i < actions.size(); ++i) {
            if (drop[i])
                m_changes.push_back(m_where + ": removed '" + name_of(actions[i]) + "'");
            else
                kept.push_back(new GFPDB_QSPI_ACTION(*static_cast<GFPDB_QSPI_ACTION*>(actions[i])));
        }
        if (kept.size() == actions.size()) {
            gfpdb_delete_last_first(kept);
            return;
        }
        m_operation->clear_action_list();
        for (GFPDB_ACTION* action : kept)
            m_operation->add_action_into_list(action);
    }

    // Addressing mode 3 and the 3-byte opcodes for every addressed action.
    void to_three_byte() {
        for (GFPDB_ACTION* action : *m_operation->get_action_list()) {
            const int type = action->get_action_type();
            const int mode_property = role_property[type][ROLE_MODE];
            if (mode_property < 0)
                continue;
            const auto mode = static_cast<GFPDB_ACT_PROPERTY>(mode_property);
            const auto command = static_cast<GFPDB_ACT_PROPERTY>(role_property[type][ROLE_COMMAND]);
            const auto name = static_cast<GFPDB_ACT_PROPERTY>(command - 1);
            const int three = three_byte_form(command_of(action));
            const bool four_mode = action->get_property_value_in_dword(mode) == 4;
            if (!four_mode && three < 0)
                continue;
            std::string change = m_where + ": '" + name_of(action) + "'";
            if (four_mode) {
                action->set_property_value(mode, "3");
                change += " addressing mode 4 -> 3";
            }
            if (three >= 0) {
                change += std::string(four_mode ? "," : "") + " opcode " +
                          hex_byte(command_of(action)) + " -> " + hex_byte(three);
                action->set_property_value(command, hex_byte(three));
                std::string label = action->get_property_value(name);
                if (label.compare(0, std::string(four_byte_prefix).size(), four_byte_prefix) == 0 &&
                    label.size() > std::string(four_byte_prefix).size()) {
                    label.erase(0, std::string(four_byte_prefix).size());
                    label[0] =
                        static_cast<char>(std::toupper(static_cast<unsigned char>(label[0])));
                    action->set_property_value(name, label);
                }
            }
            m_changes.push_back(change);
        }
    }

    // A Micron volatile configuration write sets the fast reads' dummy cycles in bits 7:4;
    // the write, its read-back and the reads follow `dummy`.
    void set_dummy_cycles(uint32_t dummy, int* configured) {
        for (GFPDB_ACTION* action : *m_operation->get_action_list()) {
            const int command = command_of(action);
            const GFPDB_ACT_TYPE type = action->get_action_type();
            if (type == GFPDB_ACT_TYPE_WRITE_REGISTER && command == OP_WRITE_VOLATILE_CONFIG) {
                replace_high_nibble(action, GFPDB_ACT_PROPERTY_WRITE_REG_DATA, dummy);
                *configured = int(dummy);
            } else if (type == GFPDB_ACT_TYPE_READ_REGISTER && command == OP_READ_VOLATILE_CONFIG) {
                replace_high_nibble(action, GFPDB_ACT_PROPERTY_READ_REG_EXPECTED_DATA, dummy);
            } else if (type == GFPDB_ACT_TYPE_READ_DATA && *configured >= 0 &&
                       (command == OP_FAST_READ || command == OP_FAST_READ_4B)) {
                const std::string count = std::to_string(dummy);
                if (action->get_property_value(GFPDB_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE) ==
                    count)
                    continue;
                action->set_property_value(GFPDB_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE, count);
                m_changes.push_back(m_where + ": '" + name_of(action) + "' dummy cycles -> " +
                                    count);
            }
        }
    }

private:
    void replace_high_nibble(GFPDB_ACTION* action, GFPDB_ACT_PROPERTY property, uint32_t dummy) {
        std::vector<uint8_t> bytes = bytes_of(action, property);
        if (bytes.empty())
            return;
        const uint8_t value = static_cast<uint8_t>((bytes[0] & 0x0F) | (dummy << 4));
        if (value == bytes[0])
            return;
        m_changes.push_back(m_where + ": '" + name_of(action) + "' " + hex_byte(bytes[0]) + " -> " +
                            hex_byte(value));
        bytes[0] = value;
        std::string text;
        for (uint8_t byte : bytes)
            text += (text.empty() ? "" : " ") + hex_byte(byte);
        action->set_property_value(property, text);
    }

    GFPDB_OPERATION* m_operation;
    std::vector<std::string>& m_changes;
    std::string m_where;
};

bool is_micron_device(GFPDB_FLASH* flash) {
    uint32_t size = 0;
    bool ok = false;
    const std::string id = flash->get_parameter_value(GFPDB_FLASH_PARAM_ID);
    const VENDOR* vendor = nullptr;
    if (!id.empty()) {
        unsigned char* bytes = GFPDB_MGR::convert_data_list_string_to_byte_array(id, &size, &ok);
        if (bytes && ok && size)
            vendor = vendor_of_maker(bytes[0]);
        delete[] bytes;
    }
    if (!vendor)
        vendor =
            vendor_of_template(flash->get_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE));
    return vendor && vendor->flag_status;
}

}  // namespace

std::vector<std::string> gfpdb_qspi_adapt_flash(GFPDB_FLASH* flash) {
    GFPDB_ASSERT(flash != nullptr, source);
    std::vector<std::string> changes;
    const uint64_t bytes = flash->get_density_in_bytes_qword();
    const bool three_byte = bytes && bytes <= three_byte_reach;
    const uint32_t dummy = flash->get_parameter_value_in_dword(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE);
    // 0 and 15 mean the part's default in the configuration register, not a count.
    const bool set_dummy = is_micron_device(flash) && dummy >= 1 && dummy <= 14;
    for (size_t f = 0; f < 2; ++f) {
        const std::vector<GFPDB_OPERATION*>* list = flash->get_operation_list(flows[f]);
        int configured = -1;
        for (GFPDB_OPERATION* operation : list ? *list : std::vector<GFPDB_OPERATION*>()) {
            OPERATION_EDIT edit(operation, changes,
                                std::string(flow_names[f]) + " " + operation->get_name());
            if (three_byte) {
                edit.drop_address_switches();
                edit.to_three_byte();
            }
            if (set_dummy)
                edit.set_dummy_cycles(dummy, &configured);
        }
    }
    return changes;
}

const std::vector<GFPDB_OPERATION*>* gfpdb_template_flow(GFPDB_MGR* manager, std::string name,
                                                         GFPDB_PROG_FLOW_TYPE flow) {
    for (int i = 0; i < GFPDB_PROG_FLOW_TEMPLATE_COUNT; ++i)
        if (gfpdb_prog_flow_template_name[i] == name)
            return manager->get_prog_flow_template_operation_list(
                static_cast<GFPDB_PROG_FLOW_TEMPLATE>(i), flow);
    const std::vector<std::string> users = manager->get_user_template_list();
    if (std::find(users.begin(), users.end(), name) != users.end())
        return manager->get_user_template_operation_list(name, flow);
    return nullptr;
}
