// Drafting a QSPI device from SFDP: the template's flows are copied and then changed where the
// chip's tables say otherwise. The flows keep single-wire transfers, as the database's bus
// widths allow nothing else.
#include "pgm/gfpdb/gfpdb_sfdp_draft.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "pgm/gfpdb/gfpdb_qspi_action.h"
#include "pgm/gfpdb/gfpdb_qspi_adapt.h"
#include "pgm/gfpdb/gfpdb_qspi_operation.h"

namespace {

using ACTIONS = std::vector<GFPDB_QSPI_ACTION>;

std::string hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

std::string size_text(uint64_t bytes) {
    if (bytes >= (uint64_t(1) << 20))
        return std::to_string(bytes >> 20) + "MB";
    if (bytes >= 1024)
        return std::to_string(bytes >> 10) + "KB";
    return std::to_string(bytes) + "B";
}

// ---------------------------------------------------------------------------------------------
// Actions by role

// The name, command and addressing-mode property of each action type (-1: none).
struct TYPE_PROPERTIES {
    int name, command, mode;
};
const TYPE_PROPERTIES type_properties[] = {
    {GFPDB_ACT_PROPERTY_WRITE_REG_NAME, GFPDB_ACT_PROPERTY_WRITE_REG_COMMAND, -1},
    {GFPDB_ACT_PROPERTY_READ_REG_NAME, GFPDB_ACT_PROPERTY_READ_REG_COMMAND, -1},
    {GFPDB_ACT_PROPERTY_WRITE_DATA_NAME, GFPDB_ACT_PROPERTY_WRITE_DATA_COMMAND,
     GFPDB_ACT_PROPERTY_WRITE_DATA_ADDRESSING_MODE},
    {GFPDB_ACT_PROPERTY_READ_DATA_NAME, GFPDB_ACT_PROPERTY_READ_DATA_COMMAND,
     GFPDB_ACT_PROPERTY_READ_DATA_ADDRESSING_MODE},
    {GFPDB_ACT_PROPERTY_ERASE_NAME, GFPDB_ACT_PROPERTY_ERASE_COMMAND,
     GFPDB_ACT_PROPERTY_ERASE_ADDRESSING_MODE},
    {-1, -1, -1},
};

const TYPE_PROPERTIES& properties_of(GFPDB_QSPI_ACTION& action) {
    return type_properties[action.get_action_type()];
}

int opcode_of(GFPDB_QSPI_ACTION& action) {
    const int command = properties_of(action).command;
    return command < 0 ? -1
                       : static_cast<int>(action.get_property_value_in_dword(
                             static_cast<GFPDB_ACT_PROPERTY>(command)));
}

bool is(GFPDB_QSPI_ACTION& action, GFPDB_ACT_TYPE type, int opcode) {
    return action.get_action_type() == type && opcode_of(action) == opcode;
}

uint32_t value_of(GFPDB_QSPI_ACTION& action, GFPDB_ACT_PROPERTY property) {
    return action.get_property_value_in_dword(property);
}

GFPDB_QSPI_ACTION write_reg(const std::string& name, int opcode, const std::string& data = "") {
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_WRITE_REGISTER);
    action.set_property_value(GFPDB_ACT_PROPERTY_WRITE_REG_NAME, name);
    action.set_property_value(GFPDB_ACT_PROPERTY_WRITE_REG_COMMAND, hex(opcode));
    action.set_property_value(GFPDB_ACT_PROPERTY_WRITE_REG_DATA, data);
    return action;
}

GFPDB_QSPI_ACTION read_reg(const std::string& name, int opcode, unsigned expected, unsigned mask,
                           uint32_t attempts, uint32_t delay_us) {
    GFPDB_QSPI_ACTION action(GFPDB_ACT_TYPE_READ_REGISTER);
    action.set_property_value(GFPDB_ACT_PROPERTY_READ_REG_NAME, name);
    action.set_property_value(GFPDB_ACT_PROPERTY_READ_REG_COMMAND, hex(opcode));
    action.set_property_value(GFPDB_ACT_PROPERTY_READ_REG_DATA_LENGTH, "1");
    action.set_property_value(GFPDB_ACT_PROPERTY_READ_REG_EXPECTED_DATA, hex(expected));
    action.set_property_value(GFPDB_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK, hex(mask));
    action.set_property_value(GFPDB_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT, std::to_string(attempts));
    action.set_property_value(GFPDB_ACT_PROPERTY_READ_REG_DELAY, std::to_string(delay_us));
    return action;
}

// A busy poll: a register read tried more than once (an error check is read once).
bool is_busy_poll(GFPDB_QSPI_ACTION& action) {
    return action.get_action_type() == GFPDB_ACT_TYPE_READ_REGISTER &&
           value_of(action, GFPDB_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT) > 1;
}

// The two polling methods the tables name (datasheet convention, JESD216 DWORD 14).
struct POLL_FORM {
    GFPDB_SFDP_POLL poll;
    int opcode;
    unsigned expected, mask;
    const char* text;
};
const POLL_FORM poll_forms[] = {
    {GFPDB_SFDP_POLL_STATUS_WIP, 0x05, 0x00, 0x01, "status register 0x05, bit 0 clear"},
    {GFPDB_SFDP_POLL_FLAG_READY, 0x70, 0x80, 0x80, "flag status register 0x70, bit 7 set"},
};

const POLL_FORM* poll_form_of(GFPDB_SFDP_POLL poll) {
    for (const POLL_FORM& form : poll_forms)
        if (form.poll == poll)
            return &form;
    return nullptr;
}

void set_poll(GFPDB_QSPI_ACTION& action, const POLL_FORM& form) {
    action.set_property_value(GFPDB_ACT_PROPERTY_READ_REG_COMMAND, hex(form.opcode));
    action.set_property_value(GFPDB_ACT_PROPERTY_READ_REG_EXPECTED_DATA, hex(form.expected));
    action.set_property_value(GFPDB_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK, hex(form.mask));
}

// Attempts that cover `max_us` at the poll's delay; `raise_only` keeps a larger count.
void set_attempts(GFPDB_QSPI_ACTION& poll, uint64_t max_us, bool raise_only = true) {
    const uint64_t delay = std::max<uint32_t>(1, value_of(poll, GFPDB_ACT_PROPERTY_READ_REG_DELAY));
    const uint64_t needed = (max_us + delay - 1) / delay;
    if (!raise_only || needed > value_of(poll, GFPDB_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT))
        poll.set_property_value(GFPDB_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT,
                                std::to_string(std::min<uint64_t>(needed, 0x7FFFFFFF)));
}

// ---------------------------------------------------------------------------------------------
// Addressing

// 3-byte opcodes and their dedicated 4-byte forms (datasheet convention).
const int opcode_pairs[][2] = {
    {0x02, 0x12}, {0x03, 0x13}, {0x0B, 0x0C}, {0x3B, 0x3C}, {0xBB, 0xBC}, {0x6B, 0x6C},
    {0xEB, 0xEC}, {0x32, 0x34}, {0x38, 0x3E}, {0x20, 0x21}, {0x52, 0x5C}, {0xD8, 0xDC},
};

int paired_opcode(int opcode, bool four_byte) {
    for (const auto& pair : opcode_pairs)
        if (pair[four_byte ? 0 : 1] == opcode)
            return pair[four_byte ? 1 : 0];
    return opcode;
}

enum ADDRESSING {
    ADDRESSING_3,         // 3-byte addresses, no 4-byte mode
    ADDRESSING_OPCODES,   // dedicated 4-byte opcodes, no mode change
    ADDRESSING_ENTER_B7,  // 4-byte mode entered with 0xB7 and left with 0xE9
    ADDRESSING_TEMPLATE   // the template's own way
};

// A step that enters or leaves 4-byte mode: 0xB7/0xE9, or a bank-register write (0x17).
bool is_mode_switch(GFPDB_QSPI_ACTION& action) {
    return is(action, GFPDB_ACT_TYPE_WRITE_REGISTER, 0xB7) ||
           is(action, GFPDB_ACT_TYPE_WRITE_REGISTER, 0xE9) ||
           is(action, GFPDB_ACT_TYPE_WRITE_REGISTER, 0x17);
}

// Removes mode switches with the write enable before and the read-back after each.
void strip_mode_switches(ACTIONS& actions) {
    for (size_t i = 0; i < actions.size();) {
        if (!is_mode_switch(actions[i])) {
            ++i;
            continue;
        }
        size_t first = i, last = i + 1;
        if (first > 0 && is(actions[first - 1], GFPDB_ACT_TYPE_WRITE_REGISTER, 0x06))
            --first;
        if (last < actions.size() &&
            actions[last].get_action_type() == GFPDB_ACT_TYPE_READ_REGISTER &&
            !is_busy_poll(actions[last]))
            ++last;
        actions.erase(actions.begin() + first, actions.begin() + last);
        i = first;
    }
}

bool has_b7(ACTIONS& actions) {
    return std::any_of(actions.begin(), actions.end(), [](GFPDB_QSPI_ACTION& a) {
        return is(a, GFPDB_ACT_TYPE_WRITE_REGISTER, 0xB7);
    });
}

// Every array access of the flow in one addressing: opcode, mode and a name that says it.
void set_addressing(ACTIONS& actions, bool four_byte_opcodes, int mode) {
    for (GFPDB_QSPI_ACTION& action : actions) {
        const TYPE_PROPERTIES& p = properties_of(action);
        if (p.mode < 0)
            continue;
        const int opcode = paired_opcode(opcode_of(action), four_byte_opcodes);
        action.set_property_value(static_cast<GFPDB_ACT_PROPERTY>(p.command), hex(opcode));
        action.set_property_value(static_cast<GFPDB_ACT_PROPERTY>(p.mode), std::to_string(mode));
        std::string name = action.get_property_value(static_cast<GFPDB_ACT_PROPERTY>(p.name));
        const std::string prefix = "4 byte ";
        if (name.compare(0, prefix.size(), prefix) == 0 && name.size() > prefix.size()) {
            name = name.substr(prefix.size());
            name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
        }
        if (four_byte_opcodes && opcode != paired_opcode(opcode, false)) {
            name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
            name = prefix + name;
        }
        action.set_property_value(static_cast<GFPDB_ACT_PROPERTY>(p.name), name);
    }
}

// ---------------------------------------------------------------------------------------------
// Quad enable: one row per requirement code the tables give (JESD216 DWORD 15 bits 22:20).

struct QUAD_ENABLE {
    int code;
    int write_enable;  // 0x06
    int write_opcode;
    const char* data;
    int read_opcode;
    unsigned bit;
    const char* text;
};
const QUAD_ENABLE quad_enables[] = {
    {1, 0x06, 0x01, "0x00 0x02", 0x35, 0x02, "status register 2 bit 1 (requirement 1)"},
    {2, 0x06, 0x01, "0x40", 0x05, 0x40, "status register 1 bit 6 (requirement 2)"},
    {3, 0x06, 0x3E, "0x80", 0x3F, 0x80, "status register 2 bit 7 (requirement 3)"},
    {4, 0x06, 0x01, "0x00 0x02", 0x35, 0x02, "status register 2 bit 1 (requirement 4)"},
    {5, 0x06, 0x01, "0x00 0x02", 0x35, 0x02, "status register 2 bit 1 (requirement 5)"},
    {6, 0x06, 0x31, "0x02", 0x35, 0x02, "status register 2 bit 1 (requirement 6)"},
};

// The template's quad-enable step: from the write enable before the register write up to the
// single read that checks the bit. False when the flow has none.
bool find_quad_enable(ACTIONS& actions, size_t* first, size_t* last) {
    for (size_t i = 0; i < actions.size(); ++i) {
        GFPDB_QSPI_ACTION& check = actions[i];
        if (check.get_action_type() != GFPDB_ACT_TYPE_READ_REGISTER || is_busy_poll(check))
            continue;
        const int opcode = opcode_of(check);
        const uint32_t mask = value_of(check, GFPDB_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK);
        const uint32_t expected = value_of(check, GFPDB_ACT_PROPERTY_READ_REG_EXPECTED_DATA);
        const bool qe_check = (opcode == 0x05 && mask == 0x40 && expected == 0x40) ||
                              (opcode == 0x35 && mask == 0x02 && expected == 0x02) ||
                              (opcode == 0x3F && mask == 0x80 && expected == 0x80);
        if (!qe_check)
            continue;
        size_t start = i;
        while (start > 0 && actions[start - 1].get_action_type() != GFPDB_ACT_TYPE_CUSTOM &&
               !(is(actions[start - 1], GFPDB_ACT_TYPE_WRITE_REGISTER, 0x06) ||
                 is(actions[start - 1], GFPDB_ACT_TYPE_WRITE_REGISTER, 0x50)))
            --start;
        *first = start > 0 ? start - 1 : 0;
        *last = i + 1;
        return true;
    }
    return false;
}

ACTIONS quad_enable_step(const QUAD_ENABLE& qe, const POLL_FORM& poll) {
    GFPDB_QSPI_ACTION wait = read_reg("Wait for quad enable write", poll.opcode, 0, 0, 1000, 100);
    set_poll(wait, poll);
    return {write_reg("Write enable", qe.write_enable),
            write_reg("Write quad enable", qe.write_opcode, qe.data), wait,
            read_reg("Check quad enable", qe.read_opcode, qe.bit, qe.bit, 1, 0)};
}

// ---------------------------------------------------------------------------------------------
// Templates

struct TEMPLATE_PROFILE {
    const char* name;
    uint8_t manufacturer[2];  // JEDEC manufacturer bytes whose parts follow it; 0: none
    GFPDB_SFDP_POLL poll;
    int quad_enable[4];  // requirement codes it sets the way of; -1 ends
    uint32_t enter_4b;
};
// In the order a tie is decided: the most widely copied command set first.
const TEMPLATE_PROFILE template_profiles[] = {
    {"Winbond", {0xEF, 0}, GFPDB_SFDP_POLL_STATUS_WIP, {4, 1, 6, -1}, GFPDB_SFDP_ENTER_4B_B7},
    {"Macronix", {0xC2, 0}, GFPDB_SFDP_POLL_STATUS_WIP, {2, -1}, GFPDB_SFDP_ENTER_4B_B7},
    {"Cypress", {0x01, 0x34}, GFPDB_SFDP_POLL_STATUS_WIP, {5, -1}, GFPDB_SFDP_ENTER_4B_BANK_REG},
    {"Micron", {0x20, 0}, GFPDB_SFDP_POLL_FLAG_READY, {0, -1}, GFPDB_SFDP_ENTER_4B_WREN_B7},
};

// ---------------------------------------------------------------------------------------------
// The draft

// The erase sizes the device gets: at least 4 KiB (the programmer erases sectors, not pages),
// no larger than the part; where one opcode is listed for two sizes the size depends on the
// part's configuration, and the larger is drafted so that a wrong guess erases too little,
// which verifying finds, rather than too much.
std::vector<GFPDB_SFDP_ERASE> usable_erases(const GFPDB_SFDP& sfdp, uint64_t density,
                                            std::string* note) {
    std::vector<GFPDB_SFDP_ERASE> usable;
    for (const GFPDB_SFDP_ERASE& erase : sfdp.erase_types) {
        if (erase.size < 4096 || erase.size > density) {
            *note += (note->empty() ? "" : "; ") + size_text(erase.size) + " " + hex(erase.opcode) +
                     " left out";
            continue;
        }
        for (GFPDB_SFDP_ERASE& kept : usable)
            if (kept.opcode == erase.opcode) {
                *note += (note->empty() ? "" : "; ") + hex(erase.opcode) + " is listed for " +
                         size_text(kept.size) + " and " + size_text(erase.size) + ": drafted as " +
                         size_text(erase.size) + ", check the part's setting";
                kept = erase;
            }
        if (std::none_of(usable.begin(), usable.end(),
                         [&](const GFPDB_SFDP_ERASE& kept) { return kept.opcode == erase.opcode; }))
            usable.push_back(erase);
    }
    return usable;
}

// The golden templates' erase poll budgets (0.4 s for 4 KB, 1.6 s for 32 KB, 3 s for 64 KB and
// in proportion above), which SFDP's coarse maxima only ever raise.
uint64_t erase_budget_us(const GFPDB_SFDP_ERASE& erase) {
    uint64_t budget_ms = erase.size <= 4096    ? 400
                         : erase.size <= 32768 ? 1600
                                               : 3000 * std::max<uint64_t>(1, erase.size / 65536);
    return std::max<uint64_t>(budget_ms, erase.max_ms) * 1000;
}

struct CONTEXT {
    const GFPDB_SFDP& sfdp;
    uint64_t density;
    ADDRESSING addressing;
    bool wren_before_b7;
    std::vector<GFPDB_SFDP_ERASE> erases;
    const POLL_FORM* poll;  // null: the template's
    const QUAD_ENABLE* qe;  // null with qe_none false: the template's
    bool qe_none;
};

// Rebuilds the erase block between the template's markers: one write-enable, erase and poll
// group per erase size, after the template's first group (its error checks included).
void draft_erase(ACTIONS& actions, const CONTEXT& c) {
    size_t start = 0, end = actions.size();
    for (size_t i = 0; i < actions.size(); ++i)
        if (actions[i].get_action_type() == GFPDB_ACT_TYPE_CUSTOM) {
            const std::string direction =
                actions[i].get_property_value(GFPDB_ACT_PROPERTY_CUSTOM_DIRECTION);
            if (direction == "start")
                start = i + 1;
            else if (direction == "end" && end == actions.size())
                end = i;
        }
    size_t erase_at = start;
    while (erase_at < end && actions[erase_at].get_action_type() != GFPDB_ACT_TYPE_ERASE)
        ++erase_at;
    if (start == 0 || erase_at == end || start > end)
        return;  // a template without an erase group keeps its block
    size_t group_end = erase_at + 1;
    while (group_end < end && actions[group_end].get_action_type() == GFPDB_ACT_TYPE_READ_REGISTER)
        ++group_end;
    // The template's words on its own erase sizes no longer hold.
    actions[start - 1].set_property_value(GFPDB_ACT_PROPERTY_CUSTOM_DESCRIPTION, "Erase data");
    const ACTIONS prototype(actions.begin() + start, actions.begin() + group_end);
    const size_t erase_index = erase_at - start;

    ACTIONS block;
    for (auto it = c.erases.begin(); it != c.erases.end(); ++it) {
        ACTIONS group = prototype;
        GFPDB_QSPI_ACTION& erase = group[erase_index];
        const std::string size = size_text(it->size);
        erase.set_property_value(GFPDB_ACT_PROPERTY_ERASE_NAME, "Erase " + size + " block");
        erase.set_property_value(GFPDB_ACT_PROPERTY_ERASE_COMMAND, hex(it->opcode));
        erase.set_property_value(GFPDB_ACT_PROPERTY_ERASE_ERASE_SIZE, std::to_string(it->size));
        for (size_t i = erase_index + 1; i < group.size(); ++i)
            if (is_busy_poll(group[i])) {
                group[i].set_property_value(GFPDB_ACT_PROPERTY_READ_REG_NAME,
                                            "Wait for erase " + size + " block");
                set_attempts(group[i], erase_budget_us(*it), false);
            }
        block.insert(block.end(), group.begin(), group.end());
    }
    actions.erase(actions.begin() + start, actions.begin() + end);
    actions.insert(actions.begin() + start, block.begin(), block.end());
}

void draft_quad_enable(ACTIONS& actions, const CONTEXT& c) {
    size_t first = 0, last = 0;
    const bool found = find_quad_enable(actions, &first, &last);
    if (c.qe_none && found)
        actions.erase(actions.begin() + first, actions.begin() + last);
    if (!c.qe)
        return;
    // A template that already sets that bit keeps its own way (a volatile write, say).
    if (found && opcode_of(actions[last - 1]) == c.qe->read_opcode &&
        value_of(actions[last - 1], GFPDB_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK) == c.qe->bit)
        return;
    const POLL_FORM& poll = c.poll ? *c.poll : poll_forms[0];
    const ACTIONS step = quad_enable_step(*c.qe, poll);
    if (found) {
        actions.erase(actions.begin() + first, actions.begin() + last);
    } else {
        first = 0;  // after the reset and its wait, where the templates set it
        for (size_t i = 0; i < actions.size(); ++i)
            if (is(actions[i], GFPDB_ACT_TYPE_WRITE_REGISTER, 0x99) ||
                is(actions[i], GFPDB_ACT_TYPE_WRITE_REGISTER, 0xF0))
                first = i + 1 < actions.size() && is_busy_poll(actions[i + 1]) ? i + 2 : i + 1;
    }
    actions.insert(actions.begin() + first, step.begin(), step.end());
}

void draft_flow(std::vector<ACTIONS>& ops, const CONTEXT& c) {
    ACTIONS& init = ops[GFPDB_OP_TYPE_INITIALIZATION];
    ACTIONS& term = ops[GFPDB_OP_TYPE_TERMINATION];
    draft_erase(ops[GFPDB_OP_TYPE_ERASE], c);
    draft_quad_enable(init, c);

    switch (c.addressing) {
        case ADDRESSING_3:
        case ADDRESSING_OPCODES:
            for (ACTIONS& actions : ops) {
                strip_mode_switches(actions);
                set_addressing(actions, c.addressing == ADDRESSING_OPCODES,
                               c.addressing == ADDRESSING_OPCODES ? 4 : 3);
            }
            break;
        case ADDRESSING_ENTER_B7:
            if (!has_b7(init)) {
                strip_mode_switches(init);
                strip_mode_switches(term);
                init.push_back(write_reg("Enter 4 byte address mode", 0xB7));
                term.insert(term.begin(), write_reg("Exit 4 byte address mode", 0xE9));
            }
            // Parts that want a write enable before the mode switch get one, on entry and exit.
            for (ACTIONS* actions : {&init, &term})
                for (size_t i = 0; c.wren_before_b7 && i < actions->size(); ++i)
                    if ((is((*actions)[i], GFPDB_ACT_TYPE_WRITE_REGISTER, 0xB7) ||
                         is((*actions)[i], GFPDB_ACT_TYPE_WRITE_REGISTER, 0xE9)) &&
                        (i == 0 || !is((*actions)[i - 1], GFPDB_ACT_TYPE_WRITE_REGISTER, 0x06)))
                        actions->insert(actions->begin() + i++, write_reg("Write enable", 0x06));
            for (ACTIONS& actions : ops)
                set_addressing(actions, false, 4);
            break;
        case ADDRESSING_TEMPLATE:
            break;
    }

    if (c.poll)
        for (ACTIONS& actions : ops)
            for (GFPDB_QSPI_ACTION& action : actions)
                if (is_busy_poll(action) &&
                    (opcode_of(action) == 0x05 || opcode_of(action) == 0x70))
                    set_poll(action, *c.poll);
    // Program polls cover the page program time the tables give.
    for (GFPDB_QSPI_ACTION& action : ops[GFPDB_OP_TYPE_PROGRAM])
        if (is_busy_poll(action))
            set_attempts(action, c.sfdp.page_program_max_us);
}

std::string addressing_text(ADDRESSING addressing) {
    switch (addressing) {
        case ADDRESSING_3:
            return "3-byte";
        case ADDRESSING_OPCODES:
            return "4-byte opcodes";
        case ADDRESSING_ENTER_B7:
            return "4-byte mode, entered with 0xB7";
        default:
            return "4-byte, as the template does it";
    }
}

}  // namespace

std::string gfpdb_sfdp_template_of_manufacturer(uint8_t manufacturer) {
    for (const TEMPLATE_PROFILE& profile : template_profiles)
        for (uint8_t byte : profile.manufacturer)
            if (byte != 0 && byte == manufacturer)
                return profile.name;
    return "";
}

std::string gfpdb_sfdp_closest_template(const GFPDB_SFDP& sfdp) {
    const TEMPLATE_PROFILE* best = &template_profiles[0];
    int best_score = -1;
    for (const TEMPLATE_PROFILE& profile : template_profiles) {
        int score = 0;
        if (sfdp.poll != GFPDB_SFDP_POLL_UNKNOWN && sfdp.poll == profile.poll)
            ++score;
        for (int code : profile.quad_enable)
            if (code >= 0 && code == sfdp.quad_enable)
                ++score;
        if (sfdp.enter_4b & profile.enter_4b)
            ++score;
        if (score > best_score) {
            best = &profile;
            best_score = score;
        }
    }
    return best->name;
}

bool gfpdb_sfdp_draft_device(GFPDB_MGR* manager, const GFPDB_SFDP& sfdp,
                             const GFPDB_SFDP_DRAFT_INPUT& input, GFPDB_FLASH* flash,
                             GFPDB_SFDP_DRAFT* draft, std::string* error) {
    std::vector<GFPDB_SFDP_DRAFT_VALUE>& report = draft->report;
    report.clear();

    // The template: the option's, else the manufacturer's, else the closest.
    std::string chosen = input.template_name, source = "option", note;
    if (chosen.empty()) {
        uint32_t size = 0;
        bool ok = false;
        unsigned char* id = input.id.empty() ? nullptr
                                             : GFPDB_MGR::convert_data_list_string_to_byte_array(
                                                   input.id, &size, &ok);
        const uint8_t manufacturer = ok && size > 0 ? id[0] : 0;
        delete[] id;
        chosen = gfpdb_sfdp_template_of_manufacturer(manufacturer);
        source = "ID";
        note = "the ID's manufacturer byte " + hex(manufacturer);
        if (chosen.empty()) {
            chosen = gfpdb_sfdp_closest_template(sfdp);
            source = "SFDP";
            note =
                "closest to the tables' busy poll, quad enable and 4-byte entry (no template "
                "for manufacturer " +
                hex(manufacturer) + ")";
        }
    }
    if (!gfpdb_template_flow(manager, chosen, GFPDB_PROG_FLOW_TYPE_SFL)) {
        *error = "no programming-flow template '" + chosen + "'";
        return false;
    }
    draft->template_name = chosen;
    report.push_back({"Template", chosen, source, note});

    // Device values.
    uint64_t density = sfdp.density_bytes;
    std::string density_text = sfdp.density_text();
    if (!input.density.empty()) {
        flash->set_density(input.density);
        density = flash->get_density_in_bytes_qword();
        report.push_back({"Density", input.density, "option",
                          density_text == input.density ? "" : "SFDP says " + density_text});
        density_text = input.density;
    } else {
        flash->set_density(density_text);
        report.push_back({"Density", density_text, "SFDP", ""});
    }
    flash->set_parameter_value(GFPDB_FLASH_PARAM_ID, input.id);
    report.push_back({"ID", input.id, "option", ""});
    flash->set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, input.voltage);
    report.push_back({"I/O voltage", input.voltage, "option", ""});
    const uint32_t dies = input.dies >= 0 ? static_cast<uint32_t>(input.dies) : 1;
    flash->set_parameter_value(GFPDB_FLASH_PARAM_TOTAL_DIE, dies);
    report.push_back({"Dies", std::to_string(dies), input.dies >= 0 ? "option" : "default",
                      input.dies >= 0 ? "" : "SFDP cannot tell the die count"});
    const uint32_t dummy = input.dummy >= 0 ? static_cast<uint32_t>(input.dummy) : 8;
    flash->set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, dummy);
    report.push_back({"Dummy clock cycles", std::to_string(dummy),
                      input.dummy >= 0 ? "option" : "default", "fast read 0x0B/0x0C"});

    const GFPDB_SFDP_READ* x4 = sfdp.find_read("1-4-4");
    if (!x4)
        x4 = sfdp.find_read("1-1-4");
    if (input.dummy_x4 >= 0) {
        flash->set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4,
                                   static_cast<uint32_t>(input.dummy_x4));
        report.push_back(
            {"x4 dummy clock cycles", std::to_string(input.dummy_x4), "option",
             x4 ? "SFDP says " + std::to_string(x4->mode_clocks + x4->wait_states) : ""});
    } else if (x4) {
        const unsigned cycles = x4->mode_clocks + x4->wait_states;
        flash->set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, cycles);
        report.push_back({"x4 dummy clock cycles", std::to_string(cycles), "SFDP",
                          x4->mode + " read " + hex(x4->opcode) + ": " +
                              std::to_string(x4->mode_clocks) + " mode clocks + " +
                              std::to_string(x4->wait_states) + " wait states"});
    } else {
        flash->set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 8u);
        report.push_back({"x4 dummy clock cycles", "8", "default", "SFDP lists no x4 read"});
    }
    flash->set_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, chosen);
    report.push_back({"Page size", "256", sfdp.page_size == 256 ? "SFDP" : "default",
                      sfdp.page_size == 0     ? "SFDP does not say"
                      : sfdp.page_size == 256 ? ""
                                              : "SFDP says " + std::to_string(sfdp.page_size) +
                                                    "; the database's page size is 256"});

    // Flow changes.
    CONTEXT c{sfdp, density, ADDRESSING_3, false, {}, nullptr, nullptr, false};
    std::string erase_note;
    c.erases = usable_erases(sfdp, density, &erase_note);
    if (c.erases.empty()) {
        *error = "the tables list no erase type of 4 KiB or more that fits the part";
        return false;
    }
    std::string erase_text;
    for (const GFPDB_SFDP_ERASE& erase : c.erases)
        erase_text +=
            (erase_text.empty() ? "" : ", ") + size_text(erase.size) + " " + hex(erase.opcode);
    report.push_back({"Erase", erase_text, "SFDP", erase_note});

    if (density > (uint64_t(1) << 24)) {
        const bool listed = sfdp.has_4bait &&
                            (sfdp.four_byte_instructions & GFPDB_SFDP_4BAIT_PROGRAM_12) &&
                            (sfdp.four_byte_instructions & GFPDB_SFDP_4BAIT_FAST_READ_0C) &&
                            std::all_of(c.erases.begin(), c.erases.end(),
                                        [](const GFPDB_SFDP_ERASE& e) { return e.opcode_4b; });
        std::string why;
        if (listed) {
            c.addressing = ADDRESSING_OPCODES;
            why = "the 4-byte address instruction table lists them";
        } else if (sfdp.enter_4b & (GFPDB_SFDP_ENTER_4B_B7 | GFPDB_SFDP_ENTER_4B_WREN_B7)) {
            c.addressing = ADDRESSING_ENTER_B7;
            c.wren_before_b7 = !(sfdp.enter_4b & GFPDB_SFDP_ENTER_4B_B7);
            why = c.wren_before_b7 ? "the tables name 0x06 then 0xB7" : "the tables name 0xB7";
        } else {
            c.addressing = ADDRESSING_TEMPLATE;
            why = "the tables name no entry method the template can use";
        }
        if (sfdp.address_bytes == GFPDB_SFDP_ADDRESS_3)
            why += "; the tables claim 3-byte addressing only, which a part above 16 MB cannot be";
        report.push_back({"Addressing", addressing_text(c.addressing),
                          c.addressing == ADDRESSING_TEMPLATE ? "template" : "SFDP", why});
        if (c.addressing == ADDRESSING_OPCODES)
            for (GFPDB_SFDP_ERASE& erase : c.erases)
                erase.opcode = erase.opcode_4b;
    } else {
        report.push_back(
            {"Addressing", addressing_text(ADDRESSING_3), "SFDP", "the part holds 16 MB or less"});
    }

    c.poll = poll_form_of(sfdp.poll);
    report.push_back({"Busy poll", c.poll ? c.poll->text : "as the template polls",
                      c.poll ? "SFDP" : "template", c.poll ? "" : "SFDP does not say"});

    std::string qe_note;
    for (const QUAD_ENABLE& qe : quad_enables)
        if (qe.code == sfdp.quad_enable)
            c.qe = &qe;
    c.qe_none = sfdp.quad_enable == 0;
    if (c.qe)
        report.push_back({"Quad enable", c.qe->text, "SFDP", ""});
    else if (c.qe_none)
        report.push_back({"Quad enable", "none", "SFDP", "quad commands need no enable bit"});
    else
        report.push_back({"Quad enable", "as the template sets it", "template",
                          sfdp.quad_enable < 0 ? "SFDP does not say"
                                               : "SFDP gives the reserved code " +
                                                     std::to_string(sfdp.quad_enable)});

    for (GFPDB_PROG_FLOW_TYPE flow : {GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_PROG_FLOW_TYPE_SDM}) {
        const std::vector<GFPDB_OPERATION*>* source_flow =
            gfpdb_template_flow(manager, chosen, flow);
        std::vector<ACTIONS> ops(GFPDB_OP_TYPE_TERMINATION + 1);
        for (GFPDB_OPERATION* operation : *source_flow)
            for (GFPDB_ACTION* action : *operation->get_action_list())
                ops[operation->get_operation_type()].push_back(
                    *static_cast<GFPDB_QSPI_ACTION*>(action));
        draft_flow(ops, c);
        std::vector<GFPDB_OPERATION*> operations;
        for (GFPDB_OPERATION* operation : *source_flow) {
            GFPDB_QSPI_OPERATION* copy = new GFPDB_QSPI_OPERATION(operation->get_operation_type());
            copy->set_name(operation->get_name());
            for (GFPDB_QSPI_ACTION& action : ops[operation->get_operation_type()])
                copy->add_action_into_list(new GFPDB_QSPI_ACTION(action));
            operations.push_back(copy);
        }
        flash->set_operation_list(operations, flow);
    }
    return true;
}
