// The flow lint: one table of rules, each a small function over a record's flows as read once.
#include "pgm/gfpdb/gfpdb_qspi_lint.h"

#include <algorithm>
#include <cctype>

#include "pgm/gfpdb/gfpdb_internal.h"
#include "pgm/gfpdb/gfpdb_qspi_facts.h"

using namespace gfpdb_qspi_facts;

const char* const gfpdb_lint_severity_name[GFPDB_LINT_SEVERITY_COUNT] = {"error", "warning",
                                                                         "note"};

namespace {

// One action as the rules read it: numbers and byte lists decoded once.
struct STEP {
    GFPDB_ACT_TYPE type = GFPDB_ACT_TYPE_CUSTOM;
    std::string name;
    int command = -1;
    std::vector<uint8_t> data;  // register write data
    std::vector<uint8_t> expected, mask;
    uint32_t attempts = 0, delay = 0, mode = 0, dummy = 0, erase_size = 0;

    bool is(GFPDB_ACT_TYPE t, int c) const { return type == t && command == c; }
    bool writes_register(int c) const { return is(GFPDB_ACT_TYPE_WRITE_REGISTER, c); }
    bool addressed() const {
        return type == GFPDB_ACT_TYPE_WRITE_DATA || type == GFPDB_ACT_TYPE_READ_DATA ||
               type == GFPDB_ACT_TYPE_ERASE;
    }
    std::string label() const { return "'" + name + "' (" + hex_byte(command) + ")"; }
};

struct OPERATION {
    GFPDB_OP_TYPE type;
    std::vector<STEP> steps;
};

struct FLOW {
    GFPDB_PROG_FLOW_TYPE type;
    std::vector<OPERATION> operations;
};

// What the rules know of the record: everything unknown for a template stays empty or zero.
struct SUBJECT {
    std::string device, template_name;
    bool is_device = false;
    bool user = false;
    GFPDB_FLASH* flash = nullptr;
    const std::vector<GFPDB_FLASH*>* others = nullptr;
    std::vector<uint8_t> id;
    std::string voltage, density;
    uint64_t bytes = 0;  // 0: unknown
    uint32_t dies = 0, dummy = 0, dummy_x4 = 0;
    const VENDOR* chip_vendor = nullptr;      // whose commands the chip takes
    const VENDOR* template_vendor = nullptr;  // the golden template the record follows
    std::vector<FLOW> flows;
};

uint32_t number(GFPDB_ACTION* action, GFPDB_ACT_PROPERTY property) {
    return action->get_property_value_in_dword(property);
}

STEP read_step(GFPDB_ACTION* action) {
    STEP step;
    step.type = action->get_action_type();
    step.name = action->get_name();
    step.command = command_of(action);
    const int type = step.type;
    if (type < 0 || type >= GFPDB_ACT_TYPE_COUNT || type == GFPDB_ACT_TYPE_CUSTOM)
        return step;
    const int name_property = role_property[type][ROLE_COMMAND] - 1;
    step.name = action->get_property_value(static_cast<GFPDB_ACT_PROPERTY>(name_property));
    step.data = bytes_of(action, role_property[type][ROLE_DATA]);
    step.delay = number(action, static_cast<GFPDB_ACT_PROPERTY>(role_property[type][ROLE_DELAY]));
    if (role_property[type][ROLE_MODE] >= 0)
        step.mode = number(action, static_cast<GFPDB_ACT_PROPERTY>(role_property[type][ROLE_MODE]));
    switch (step.type) {
        case GFPDB_ACT_TYPE_READ_REGISTER:
            step.expected = bytes_of(action, GFPDB_ACT_PROPERTY_READ_REG_EXPECTED_DATA);
            step.mask = bytes_of(action, GFPDB_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK);
            step.attempts = number(action, GFPDB_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT);
            break;
        case GFPDB_ACT_TYPE_READ_DATA:
            step.expected = bytes_of(action, GFPDB_ACT_PROPERTY_READ_DATA_EXPECTED_DATA);
            step.mask = bytes_of(action, GFPDB_ACT_PROPERTY_READ_DATA_EXPECTED_DATA_MASK);
            step.dummy = number(action, GFPDB_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE);
            break;
        case GFPDB_ACT_TYPE_ERASE:
            step.erase_size = number(action, GFPDB_ACT_PROPERTY_ERASE_ERASE_SIZE);
            break;
        default:
            break;
    }
    return step;
}

void read_flows(SUBJECT& subject, const std::vector<GFPDB_OPERATION*>* sfl,
                const std::vector<GFPDB_OPERATION*>* sdm) {
    const std::pair<GFPDB_PROG_FLOW_TYPE, const std::vector<GFPDB_OPERATION*>*> lists[] = {
        {GFPDB_PROG_FLOW_TYPE_SFL, sfl}, {GFPDB_PROG_FLOW_TYPE_SDM, sdm}};
    for (const auto& [type, list] : lists) {
        FLOW flow{type, {}};
        for (GFPDB_OPERATION* operation : list ? *list : std::vector<GFPDB_OPERATION*>()) {
            OPERATION read{operation->get_operation_type(), {}};
            for (GFPDB_ACTION* action : *operation->get_action_list())
                read.steps.push_back(read_step(action));
            flow.operations.push_back(std::move(read));
        }
        subject.flows.push_back(std::move(flow));
    }
}

// Collects the findings of one rule about one record.
class REPORT {
public:
    REPORT(const SUBJECT& subject, std::vector<GFPDB_LINT_FINDING>& out)
        : m_subject(subject), m_out(out) {}
    void set_rule(const char* id) { m_rule = id; }
    void add(GFPDB_LINT_SEVERITY severity, std::string message, int flow = GFPDB_LINT_NONE,
             int operation = GFPDB_LINT_NONE, int action = GFPDB_LINT_NONE) {
        GFPDB_LINT_FINDING finding;
        finding.rule = m_rule;
        finding.severity = severity;
        finding.device = m_subject.device;
        finding.template_name = m_subject.template_name;
        finding.flow = flow;
        finding.operation = operation;
        finding.action = action;
        finding.message = std::move(message);
        m_out.push_back(std::move(finding));
    }
    void at(GFPDB_LINT_SEVERITY severity, const FLOW& flow, const OPERATION& operation,
            size_t action, std::string message) {
        add(severity, std::move(message), flow.type, operation.type, static_cast<int>(action));
    }

private:
    const SUBJECT& m_subject;
    std::vector<GFPDB_LINT_FINDING>& m_out;
    const char* m_rule = "";
};

constexpr GFPDB_LINT_SEVERITY ERROR = GFPDB_LINT_SEVERITY_ERROR;
constexpr GFPDB_LINT_SEVERITY WARNING = GFPDB_LINT_SEVERITY_WARNING;
constexpr GFPDB_LINT_SEVERITY NOTE = GFPDB_LINT_SEVERITY_NOTE;

bool is_micron(const SUBJECT& s) {
    return s.chip_vendor && s.chip_vendor->flag_status;
}

bool is_power_of_two(uint64_t value) {
    return value && !(value & (value - 1));
}

std::string size_text(uint64_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0)
        return std::to_string(bytes >> 20) + " MB";
    if (bytes >= 1024 && bytes % 1024 == 0)
        return std::to_string(bytes >> 10) + " KB";
    return std::to_string(bytes) + " bytes";
}

std::string time_text(uint64_t us) {
    if (us >= 10000)
        return std::to_string(us / 1000) + " ms";
    return std::to_string(us) + " us";
}

// --- What a step does to the chip's state ----------------------------------------------------

// Write-type commands and the write enables they accept. Volatile status writes take 0x50
// where the maker has it; everything else takes 0x06.
enum WRITE_KIND { NOT_A_WRITE, NEEDS_WREN, NEEDS_WREN_OR_VOLATILE };

WRITE_KIND write_kind(const SUBJECT& s, const STEP& step) {
    if (step.type == GFPDB_ACT_TYPE_WRITE_DATA || step.type == GFPDB_ACT_TYPE_ERASE)
        return NEEDS_WREN;
    if (step.type != GFPDB_ACT_TYPE_WRITE_REGISTER)
        return NOT_A_WRITE;
    switch (step.command) {
        case OP_WRITE_STATUS:
        case OP_WRITE_STATUS_2:
        case OP_WRITE_STATUS_3:
            return is_micron(s) ? NEEDS_WREN : NEEDS_WREN_OR_VOLATILE;
        case OP_WRITE_VOLATILE_CONFIG:
        case OP_WRITE_NONVOLATILE_CONFIG:
        case OP_WRITE_EXTENDED_ADDRESS:
            // Micron register writes; other makers use these opcodes for other things.
            return is_micron(s) ? NEEDS_WREN : NOT_A_WRITE;
        case OP_CHIP_ERASE:
        case OP_CHIP_ERASE_60:
        case OP_DIE_ERASE:
            return NEEDS_WREN;
        case OP_ENTER_4BYTE:
        case OP_EXIT_4BYTE:
            return s.chip_vendor && s.chip_vendor->write_enable_for_4byte ? NEEDS_WREN
                                                                          : NOT_A_WRITE;
        default:
            return NOT_A_WRITE;
    }
}

bool is_volatile_enable(const SUBJECT& s, const STEP& step) {
    return !is_micron(s) && step.writes_register(OP_VOLATILE_WRITE_ENABLE);
}

// Whether a write leaves the chip busy for a while: programs, erases and non-volatile register
// writes. `enabled_by` is the write enable before it.
bool leaves_chip_busy(const SUBJECT& s, const STEP& step, int enabled_by) {
    if (step.type == GFPDB_ACT_TYPE_WRITE_DATA || step.type == GFPDB_ACT_TYPE_ERASE)
        return true;
    if (step.type != GFPDB_ACT_TYPE_WRITE_REGISTER)
        return false;
    switch (step.command) {
        case OP_WRITE_STATUS:
        case OP_WRITE_STATUS_2:
        case OP_WRITE_STATUS_3:
            return enabled_by != OP_VOLATILE_WRITE_ENABLE;
        case OP_WRITE_NONVOLATILE_CONFIG:
            return is_micron(s);
        case OP_CHIP_ERASE:
        case OP_CHIP_ERASE_60:
        case OP_DIE_ERASE:
            return true;
        default:
            return false;
    }
}

bool clears_write_enable(const STEP& step) {
    return step.writes_register(OP_WRITE_DISABLE) || step.writes_register(OP_RESET) ||
           step.writes_register(0xF0);
}

// For each step of an operation, the write enable in force before it (0x06, 0x50 or -1).
std::vector<int> write_enables(const SUBJECT& s, const OPERATION& operation) {
    std::vector<int> before;
    int enabled = -1;
    for (const STEP& step : operation.steps) {
        before.push_back(enabled);
        if (step.writes_register(OP_WRITE_ENABLE))
            enabled = OP_WRITE_ENABLE;
        else if (is_volatile_enable(s, step))
            enabled = OP_VOLATILE_WRITE_ENABLE;
        else if (write_kind(s, step) != NOT_A_WRITE || clears_write_enable(step))
            enabled = -1;  // a completed write clears the write enable latch
    }
    return before;
}

// The two busy polls JEDEC names: the status register's write-in-progress bit clearing, or
// the flag status register's ready bit setting.
enum POLL_VERDICT { POLL_OK, POLL_WRONG_FORM, POLL_ONCE, POLL_NO_FLAG_STATUS, POLL_OTHER };

POLL_VERDICT judge_poll(const SUBJECT& s, const STEP& read) {
    const uint8_t mask = read.mask.empty() ? 0 : read.mask[0];
    const uint8_t expected = read.expected.empty() ? 0 : read.expected[0];
    if (read.command == OP_READ_STATUS) {
        if (!(mask & 0x01) || (expected & 0x01))
            return POLL_WRONG_FORM;
    } else if (read.command == OP_READ_FLAG_STATUS) {
        if (s.chip_vendor && !s.chip_vendor->flag_status)
            return POLL_NO_FLAG_STATUS;
        if (!(mask & 0x80) || !(expected & 0x80))
            return POLL_WRONG_FORM;
    } else {
        return POLL_OTHER;
    }
    return read.attempts > 1 ? POLL_OK : POLL_ONCE;
}

// The step at `i` and the busy poll that follows it, for the rules over writes.
template <typename VISIT>
void for_each_busy_write(const SUBJECT& s, VISIT visit) {
    for (const FLOW& flow : s.flows)
        for (const OPERATION& operation : flow.operations) {
            const std::vector<int> enables = write_enables(s, operation);
            for (size_t i = 0; i < operation.steps.size(); ++i)
                if (leaves_chip_busy(s, operation.steps[i], enables[i]))
                    visit(flow, operation, i);
        }
}

// The longest a step is expected to keep the chip busy, in microseconds; 0 when unknown.
// Typical datasheet maxima of the parts the golden templates serve.
struct BUSY_TIME {
    int command;  // -1: any of the type
    GFPDB_ACT_TYPE type;
    uint32_t erase_size;  // 0: any
    uint64_t us;
    const char* what;
};
const BUSY_TIME busy_times[] = {
    {-1, GFPDB_ACT_TYPE_WRITE_DATA, 0, 3000, "a page program"},
    {-1, GFPDB_ACT_TYPE_ERASE, 4096, 400000, "a 4 KB erase"},
    {-1, GFPDB_ACT_TYPE_ERASE, 32768, 1600000, "a 32 KB erase"},
    {-1, GFPDB_ACT_TYPE_ERASE, 65536, 2000000, "a 64 KB erase"},
    {-1, GFPDB_ACT_TYPE_ERASE, 262144, 2600000, "a 256 KB erase"},
};
// Chip and die erase: about a second per megabit.
constexpr uint64_t chip_erase_us_per_mbit = 1000000;

uint64_t busy_time(const SUBJECT& s, const STEP& step, std::string* what) {
    for (const BUSY_TIME& row : busy_times)
        if (row.type == step.type && (row.command < 0 || row.command == step.command) &&
            (!row.erase_size || row.erase_size == step.erase_size)) {
            *what = row.what;
            return row.us;
        }
    const bool chip = step.command == OP_CHIP_ERASE || step.command == OP_CHIP_ERASE_60;
    if ((chip || step.command == OP_DIE_ERASE) && s.bytes &&
        step.type != GFPDB_ACT_TYPE_READ_REGISTER) {
        const uint64_t bytes = chip || s.dies < 2 ? s.bytes : s.bytes / s.dies;
        *what = std::string(chip ? "a chip erase" : "a die erase") + " of " + size_text(bytes);
        return (bytes >> 17) * chip_erase_us_per_mbit;
    }
    return 0;
}

// --- Rules ---------------------------------------------------------------------------------

void check_write_enable(const SUBJECT& s, REPORT& out) {
    for (const FLOW& flow : s.flows)
        for (const OPERATION& operation : flow.operations) {
            const std::vector<int> enables = write_enables(s, operation);
            for (size_t i = 0; i < operation.steps.size(); ++i) {
                const STEP& step = operation.steps[i];
                const WRITE_KIND kind = write_kind(s, step);
                if (kind == NOT_A_WRITE || enables[i] == OP_WRITE_ENABLE ||
                    (kind == NEEDS_WREN_OR_VOLATILE && enables[i] == OP_VOLATILE_WRITE_ENABLE))
                    continue;
                out.at(ERROR, flow, operation, i,
                       step.label() + " is not preceded by a write enable (0x06" +
                           std::string(kind == NEEDS_WREN_OR_VOLATILE ? ", or 0x50 for a volatile "
                                                                        "write"
                                                                      : "") +
                           ") in its operation; the chip ignores it");
            }
        }
}

void check_busy_poll(const SUBJECT& s, REPORT& out) {
    for_each_busy_write(s, [&](const FLOW& flow, const OPERATION& operation, size_t i) {
        const STEP& step = operation.steps[i];
        std::string what;
        const uint64_t time = busy_time(s, step, &what);
        if (time && step.delay >= time)
            return;  // a fixed wait long enough serves as well
        const std::string ready =
            "; poll 0x05 with mask 0x01 expecting 0x00, or (Micron) 0x70 with mask 0x80 "
            "expecting 0x80, more than once";
        if (i + 1 >= operation.steps.size() ||
            operation.steps[i + 1].type != GFPDB_ACT_TYPE_READ_REGISTER) {
            out.at(
                ERROR, flow, operation, i,
                step.label() + " is not followed by a busy poll before the next command" + ready);
            return;
        }
        const STEP& read = operation.steps[i + 1];
        switch (judge_poll(s, read)) {
            case POLL_OK:
                return;
            case POLL_WRONG_FORM:
                out.at(ERROR, flow, operation, i + 1,
                       "'" + read.name + "' does not wait for " + step.label() +
                           " to finish: its mask and expected data are not a busy poll" + ready);
                return;
            case POLL_ONCE:
                out.at(ERROR, flow, operation, i + 1,
                       "'" + read.name + "' reads the status only once after " + step.label() +
                           "; a busy poll needs more than one attempt");
                return;
            case POLL_NO_FLAG_STATUS:
                out.at(ERROR, flow, operation, i + 1,
                       "'" + read.name + "' polls the flag status register 0x70, which " +
                           s.chip_vendor->name + " parts do not have" + ready);
                return;
            case POLL_OTHER:
                if (s.chip_vendor)
                    out.at(ERROR, flow, operation, i + 1,
                           "'" + read.name + "' (" + hex_byte(read.command) +
                               ") is not a busy poll after " + step.label() + ready);
                else
                    out.at(NOTE, flow, operation, i + 1,
                           "cannot tell whether '" + read.name + "' (" + hex_byte(read.command) +
                               ") polls the busy state after " + step.label());
                return;
        }
    });
}

void check_poll_budget(const SUBJECT& s, REPORT& out) {
    for_each_busy_write(s, [&](const FLOW& flow, const OPERATION& operation, size_t i) {
        if (i + 1 >= operation.steps.size())
            return;
        const STEP& step = operation.steps[i];
        const STEP& read = operation.steps[i + 1];
        std::string what;
        const uint64_t time = busy_time(s, step, &what);
        if (!time || step.delay >= time || judge_poll(s, read) != POLL_OK)
            return;
        const uint64_t budget = uint64_t(read.attempts) * read.delay;
        if (budget >= time)
            return;
        out.at(WARNING, flow, operation, i + 1,
               "'" + read.name + "' waits at most " + time_text(budget) + " (" +
                   std::to_string(read.attempts) + " attempts x " + std::to_string(read.delay) +
                   " us), but " + what + " may take up to " + time_text(time));
    });
}

// Whether a step switches the chip to 4-byte addresses (1), back to 3-byte (0), or neither.
int address_switch(const STEP& step) {
    if (step.writes_register(OP_ENTER_4BYTE))
        return 1;
    if (step.writes_register(OP_EXIT_4BYTE))
        return 0;
    if (step.writes_register(OP_WRITE_BANK) && !step.data.empty())
        return step.data[0] & 0x80 ? 1 : 0;
    return -1;
}

void check_address_mode(const SUBJECT& s, REPORT& out) {
    for (const FLOW& flow : s.flows) {
        // The mode Initialization leaves the chip in holds for the other operations.
        bool after_init = false;
        for (const OPERATION& operation : flow.operations)
            if (operation.type == GFPDB_OP_TYPE_INITIALIZATION)
                for (const STEP& step : operation.steps)
                    if (address_switch(step) >= 0)
                        after_init = address_switch(step) == 1;
        bool left_at_end = after_init;
        for (const OPERATION& operation : flow.operations) {
            bool entered = operation.type == GFPDB_OP_TYPE_INITIALIZATION ? false : after_init;
            for (size_t i = 0; i < operation.steps.size(); ++i) {
                const STEP& step = operation.steps[i];
                const int change = address_switch(step);
                if (change >= 0) {
                    entered = change == 1;
                    if (change == 1 && s.bytes && s.bytes <= three_byte_reach)
                        out.at(ERROR, flow, operation, i,
                               step.label() + " enters 4-byte address mode, but a " + s.density +
                                   " chip is addressed with 3 bytes (and may not have the mode)");
                    continue;
                }
                if (!step.addressed())
                    continue;
                const bool four_opcode = is_four_byte_opcode(step.command);
                std::string problem;
                if (step.mode != 3 && step.mode != 4)
                    problem =
                        "addressing mode " + std::to_string(step.mode) + " is neither 3 nor 4";
                else if (four_opcode && step.mode != 4)
                    problem = "a 4-byte opcode sends 4 address bytes, but the addressing mode is 3";
                else if (step.mode == 4 && !four_opcode && !entered)
                    problem =
                        "4-byte addresses with a 3-byte opcode, but the flow does not enter "
                        "4-byte address mode (0xB7 or the bank register) first";
                else if (step.mode == 3 && entered)
                    problem = "3-byte addresses while the chip is in 4-byte address mode";
                else if (s.bytes > three_byte_reach && step.mode != 4)
                    problem = "3-byte addresses reach 16 MB, but the chip holds " + s.density;
                else if (s.bytes && s.bytes <= three_byte_reach && step.mode == 4)
                    problem = "4-byte addressing on a " + s.density +
                              " chip, which 3-byte addresses reach whole";
                if (!problem.empty())
                    out.at(ERROR, flow, operation, i, step.label() + ": " + problem);
            }
            if (operation.type == GFPDB_OP_TYPE_TERMINATION)
                left_at_end = entered;
        }
        // A chip left in 4-byte mode may not boot from 3-byte reads after a reset.
        if (left_at_end)
            for (const OPERATION& operation : flow.operations)
                if (operation.type == GFPDB_OP_TYPE_TERMINATION)
                    out.add(WARNING,
                            "Termination leaves the chip in 4-byte address mode; leave it (0xE9 "
                            "or the bank register) so that a 3-byte boot read works",
                            flow.type, operation.type);
    }
}

// Opcode and size pairs of datasheet convention; some parts differ, so only a warning.
struct ERASE_PAIR {
    int command;
    uint32_t size;
};
const ERASE_PAIR erase_pairs[] = {{0x20, 4096},  {0x21, 4096},  {0x52, 32768},
                                  {0x5C, 32768}, {0xD8, 65536}, {0xDC, 65536}};

void check_erase_size(const SUBJECT& s, REPORT& out) {
    for (const FLOW& flow : s.flows)
        for (const OPERATION& operation : flow.operations) {
            std::vector<uint32_t> seen;
            for (size_t i = 0; i < operation.steps.size(); ++i) {
                const STEP& step = operation.steps[i];
                if (step.type != GFPDB_ACT_TYPE_ERASE)
                    continue;
                const uint32_t size = step.erase_size;
                if (!is_power_of_two(size) || size < 256)
                    out.at(ERROR, flow, operation, i,
                           step.label() + ": erase size " + std::to_string(size) +
                               " is not a power of two of at least 256 bytes");
                else if (s.bytes && size > s.bytes)
                    out.at(ERROR, flow, operation, i,
                           step.label() + ": erase size " + size_text(size) +
                               " is larger than the " + s.density + " chip");
                if (std::find(seen.begin(), seen.end(), size) != seen.end())
                    out.at(ERROR, flow, operation, i,
                           step.label() + ": a second erase of " + size_text(size) +
                               " in one operation; the engine could not choose between them");
                seen.push_back(size);
                for (const ERASE_PAIR& pair : erase_pairs)
                    if (pair.command == step.command && pair.size != size)
                        out.at(WARNING, flow, operation, i,
                               step.label() + " usually erases " + size_text(pair.size) + ", not " +
                                   size_text(size) + "; check the datasheet");
            }
        }
}

// Reads that need more than one wire: flows carry single-wire transfers only.
const int multi_wire_reads[] = {0x3B, 0x3C, 0x6B, 0x6C, 0xBB, 0xBC,
                                0xEB, 0xEC, 0xBD, 0xBE, 0xED, 0xEE};
constexpr uint32_t fast_read_dummy = 8;

// The dummy cycles a flow's configuration write sets for its fast reads; -1 when none does.
int configured_dummy(const SUBJECT& s, const FLOW& flow) {
    int configured = -1;
    if (!is_micron(s))
        return configured;
    for (const OPERATION& operation : flow.operations)
        if (operation.type == GFPDB_OP_TYPE_INITIALIZATION)
            for (const STEP& step : operation.steps)
                if (step.writes_register(OP_WRITE_VOLATILE_CONFIG) && !step.data.empty())
                    configured = micron_config_dummy(step.data[0]);
    return configured;
}

void check_read_dummy(const SUBJECT& s, REPORT& out) {
    for (const FLOW& flow : s.flows) {
        const int configured = configured_dummy(s, flow);
        for (const OPERATION& operation : flow.operations)
            for (size_t i = 0; i < operation.steps.size(); ++i) {
                const STEP& step = operation.steps[i];
                if (step.type != GFPDB_ACT_TYPE_READ_DATA)
                    continue;
                const int* end = std::end(multi_wire_reads);
                if (std::find(std::begin(multi_wire_reads), end, step.command) != end) {
                    out.at(ERROR, flow, operation, i,
                           step.label() +
                               " is a multi-wire read, but flows carry single-wire "
                               "transfers (bus width 1-1-1); use 0x03 or 0x0B");
                    continue;
                }
                const bool plain = step.command == OP_READ || step.command == OP_READ_4B;
                const bool fast = step.command == OP_FAST_READ || step.command == OP_FAST_READ_4B;
                const uint32_t want = plain             ? 0
                                      : configured >= 0 ? uint32_t(configured)
                                                        : fast_read_dummy;
                if ((plain || fast) && step.dummy != want)
                    out.at(ERROR, flow, operation, i,
                           step.label() + " takes " + std::to_string(want) + " dummy cycles" +
                               (fast && configured >= 0 ? " as the configuration write sets them"
                                                        : "") +
                               ", not " + std::to_string(step.dummy));
                else if (fast && s.is_device && step.dummy != s.dummy)
                    out.at(WARNING, flow, operation, i,
                           step.label() + " uses " + std::to_string(step.dummy) +
                               " dummy cycles, but the device declares DUMMY_CLOCK_CYCLE " +
                               std::to_string(s.dummy));
            }
    }
}

void check_quad_enable(const SUBJECT& s, REPORT& out) {
    const VENDOR* vendor = s.chip_vendor;
    if (!s.is_device || !s.dummy_x4 || !vendor || !vendor->qe_writes[0].opcode)
        return;
    for (const FLOW& flow : s.flows)
        for (const OPERATION& operation : flow.operations) {
            if (operation.type != GFPDB_OP_TYPE_INITIALIZATION)
                continue;
            bool set = false, read_back = false;
            for (const STEP& step : operation.steps) {
                for (const QE_WRITE& write : vendor->qe_writes)
                    set = set || (write.opcode && step.writes_register(write.opcode) &&
                                  step.data.size() > write.byte &&
                                  (step.data[write.byte] & vendor->qe_bit));
                read_back =
                    read_back || (set && step.is(GFPDB_ACT_TYPE_READ_REGISTER, vendor->qe_read) &&
                                  !step.mask.empty() && !step.expected.empty() &&
                                  (step.mask[0] & step.expected[0] & vendor->qe_bit));
            }
            if (!set || !read_back)
                out.add(WARNING,
                        "the device declares x4 dummy cycles, so it is read four wires wide, but "
                        "Initialization does not " +
                            std::string(set ? "read back" : "set") + " the " + vendor->name +
                            " quad-enable bit " + hex_byte(vendor->qe_bit) + " (read with " +
                            hex_byte(vendor->qe_read) + ")",
                        flow.type, operation.type);
        }
}

void check_reset_sequence(const SUBJECT& s, REPORT& out) {
    for (const FLOW& flow : s.flows)
        for (const OPERATION& operation : flow.operations) {
            const std::vector<STEP>& steps = operation.steps;
            for (size_t i = 0; i < steps.size(); ++i) {
                const bool next_is_reset =
                    i + 1 < steps.size() && steps[i + 1].writes_register(OP_RESET);
                if (steps[i].writes_register(OP_RESET_ENABLE) && !next_is_reset)
                    out.at(ERROR, flow, operation, i,
                           steps[i].label() + " is not directly followed by the reset 0x99");
                if (!steps[i].writes_register(OP_RESET))
                    continue;
                if (i == 0 || !steps[i - 1].writes_register(OP_RESET_ENABLE))
                    out.at(ERROR, flow, operation, i,
                           steps[i].label() + " is not directly preceded by reset enable 0x66");
                // The chip ignores commands for tens of microseconds after a reset.
                const bool polled = i + 1 < steps.size() &&
                                    steps[i + 1].type == GFPDB_ACT_TYPE_READ_REGISTER &&
                                    steps[i + 1].attempts > 1;
                if (steps[i].delay < 30 && !polled)
                    out.at(ERROR, flow, operation, i,
                           steps[i].label() +
                               " is followed by neither a delay of at least 30 us nor a poll");
            }
        }
}

void check_poll_mask(const SUBJECT& s, REPORT& out) {
    for (const FLOW& flow : s.flows)
        for (const OPERATION& operation : flow.operations)
            for (size_t i = 0; i < operation.steps.size(); ++i) {
                const STEP& step = operation.steps[i];
                for (size_t k = 0; k < step.expected.size() && k < step.mask.size(); ++k)
                    if (step.expected[k] & ~step.mask[k]) {
                        out.at(WARNING, flow, operation, i,
                               "'" + step.name + "' expects " + hex_byte(step.expected[k]) +
                                   " under mask " + hex_byte(step.mask[k]) +
                                   ": the bits outside the mask are never compared");
                        break;
                    }
            }
}

void check_id_vendor(const SUBJECT& s, REPORT& out) {
    if (!s.is_device || s.id.empty() || !s.template_vendor)
        return;
    const VENDOR* maker = vendor_of_maker(s.id[0]);
    if (maker == s.template_vendor)
        return;
    std::string message = "the ID's manufacturer byte " + hex_byte(s.id[0]) + " is " +
                          (maker ? std::string(maker->name) + "'s" : "not a known maker's") +
                          ", but the device follows the " + s.template_vendor->name + " template";
    if (maker && maker->golden_template)
        message += std::string("; the ") + maker->golden_template + " template may fit";
    out.add(WARNING, message);
}

// Known Spansion/Cypress IDs: memory type and capacity bytes of parts in their datasheets.
struct SPANSION_PART {
    uint8_t type, capacity;
    uint64_t bytes;
};
const SPANSION_PART spansion_parts[] = {
    {0x20, 0x18, 16u << 20},  // FL-S 128 Mbit
    {0x02, 0x19, 32u << 20},  // FL-S 256 Mbit
    {0x02, 0x20, 64u << 20},  // FL-S 512 Mbit
    {0x60, 0x17, 8u << 20},   // FL-L 64 Mbit
    {0x60, 0x18, 16u << 20},  // FL-L 128 Mbit
    {0x60, 0x19, 32u << 20},  // FL-L 256 Mbit
};

// The capacity byte a maker's coding gives for a size; -1 when it is unknown.
int expected_capacity(const VENDOR& vendor, uint8_t type, uint64_t bytes, bool* known_part) {
    int log2 = 0;
    while ((uint64_t(1) << (log2 + 1)) <= bytes)
        ++log2;
    switch (vendor.capacity) {
        case CAPACITY_LOG2:
            return log2;
        case CAPACITY_LOG2_TO_32MB:
            return log2 <= 25 ? log2 : 0x20 + (log2 - 26);
        case CAPACITY_MACRONIX:
            if (type == 0x20 || type == 0x28)
                return log2;
            return type == 0x25 || type == 0x81 ? log2 + 0x20 : -1;
        case CAPACITY_SPANSION:
            *known_part = true;
            return -1;
        default:
            return -1;
    }
}

void check_id_capacity(const SUBJECT& s, REPORT& out) {
    if (!s.is_device || s.id.size() < 3 || !s.bytes || !is_power_of_two(s.bytes))
        return;
    const VENDOR* maker = vendor_of_maker(s.id[0]);
    if (!maker)
        return;
    bool table = false;
    const int expected = expected_capacity(*maker, s.id[1], s.bytes, &table);
    if (table) {
        for (const SPANSION_PART& part : spansion_parts)
            if (part.type == s.id[1] && part.capacity == s.id[2] && part.bytes != s.bytes)
                out.add(WARNING, "the ID " + hex_byte(s.id[0]) + " " + hex_byte(s.id[1]) + " " +
                                     hex_byte(s.id[2]) + " is a " + size_text(part.bytes) +
                                     " part, but the density is " + s.density);
        return;
    }
    if (expected >= 0 && expected != s.id[2])
        out.add(WARNING, "the ID's capacity byte " + hex_byte(s.id[2]) + " disagrees with the " +
                             s.density + " density: " + maker->name + " codes it as " +
                             hex_byte(expected));
}

// No known stacked part has dies smaller than this.
constexpr uint64_t smallest_die = 32u << 20;

void check_die_count(const SUBJECT& s, REPORT& out) {
    if (!s.is_device)
        return;
    if (s.dies != 1 && s.dies != 2 && s.dies != 4) {
        out.add(WARNING, std::to_string(s.dies) + " dies: stacked parts have 1, 2 or 4");
        return;
    }
    if (s.dies == 1)
        return;
    const uint64_t die = s.bytes / s.dies;
    if (s.bytes && (!is_power_of_two(die) || die < smallest_die))
        out.add(WARNING, std::to_string(s.dies) + " dies of " + size_text(die) +
                             ": no stacked part has dies below " + size_text(smallest_die));
    for (const FLOW& flow : s.flows)
        for (const OPERATION& operation : flow.operations)
            for (size_t i = 0; i < operation.steps.size(); ++i) {
                const int command = operation.steps[i].command;
                const bool writes = operation.steps[i].type != GFPDB_ACT_TYPE_READ_REGISTER &&
                                    operation.steps[i].type != GFPDB_ACT_TYPE_READ_DATA;
                if (writes && (command == OP_CHIP_ERASE || command == OP_CHIP_ERASE_60))
                    out.at(WARNING, flow, operation, i,
                           operation.steps[i].label() +
                               " is a chip erase on a stacked part; erase die by die (0xC4)");
            }
}

std::vector<uint8_t> id_bytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    if (text.empty())
        return bytes;
    uint32_t size = 0;
    bool ok = false;
    unsigned char* array = GFPDB_MGR::convert_data_list_string_to_byte_array(text, &size, &ok);
    if (array && ok)
        bytes.assign(array, array + size);
    delete[] array;
    return bytes;
}

bool same_but_case(const std::string& a, const std::string& b) {
    return a != b && a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

void check_id_shadow(const SUBJECT& s, REPORT& out) {
    if (!s.is_device || !s.user || !s.others)
        return;
    for (GFPDB_FLASH* other : *s.others) {
        if (other == s.flash || other->get_name() == s.device)
            continue;
        const std::string name = other->get_name();
        if (same_but_case(name, s.device))
            out.add(WARNING, "the name differs from that of device " + name + " only in case");
        if (s.id.empty() || id_bytes(other->get_parameter_value(GFPDB_FLASH_PARAM_ID)) != s.id)
            continue;
        const std::string density = other->get_density();
        const std::string voltage = other->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE);
        if (density != s.density || voltage != s.voltage)
            out.add(WARNING, "device " + name + " has the same ID but " + density + " at " +
                                 voltage + "; a chip answering this ID is ambiguous");
    }
}

struct LINT_RULE {
    GFPDB_LINT_RULE_INFO info;
    void (*check)(const SUBJECT& subject, REPORT& out);
};

const LINT_RULE lint_rules[] = {
    {{"write-enable", ERROR,
      "a write enable (0x06, or 0x50 for volatile status writes) precedes every program, erase "
      "and register write in its operation"},
     check_write_enable},
    {{"busy-poll", ERROR,
      "every program, erase and non-volatile register write is followed by a busy poll: 0x05 "
      "mask 0x01 expecting 0x00, or 0x70 mask 0x80 expecting 0x80, more than once"},
     check_busy_poll},
    {{"poll-budget", WARNING,
      "a busy poll's attempts x delay covers the step's typical maximum time"},
     check_poll_budget},
    {{"address-mode", ERROR,
      "above 128 Mbit every addressed action uses 4 address bytes (4-byte opcodes or 4-byte mode "
      "entered first); at or below 128 Mbit none does and 4-byte mode is never entered"},
     check_address_mode},
    {{"erase-size", ERROR,
      "erase sizes are powers of two, at least 256 bytes, within the chip and distinct in an "
      "operation; an unusual opcode/size pairing is a warning"},
     check_erase_size},
    {{"read-dummy", ERROR,
      "reads are single-wire, 0x03/0x13 take no dummy cycles and 0x0B/0x0C take 8 or the count "
      "the flow configures; DUMMY_CLOCK_CYCLE disagreeing is a warning"},
     check_read_dummy},
    {{"quad-enable", WARNING,
      "a device with x4 dummy cycles has Initialization set and read back its maker's "
      "quad-enable bit"},
     check_quad_enable},
    {{"reset-sequence", ERROR,
      "0x99 directly follows 0x66 and is followed by a delay of at least 30 us or a poll"},
     check_reset_sequence},
    {{"poll-mask", WARNING, "expected data has no bits outside its mask"}, check_poll_mask},
    {{"id-vendor", WARNING, "the ID's manufacturer byte matches the template's maker"},
     check_id_vendor},
    {{"id-capacity", WARNING,
      "the ID's capacity byte agrees with the density, where the maker's coding is known"},
     check_id_capacity},
    {{"die-count", WARNING,
      "dies are 1, 2 or 4 of at least 32 MB each, and stacked parts are not chip-erased"},
     check_die_count},
    {{"id-shadow", WARNING,
      "a user device shares no ID with a device of another density or voltage, nor a name but "
      "for case"},
     check_id_shadow},
};

std::vector<GFPDB_LINT_FINDING> run_rules(const SUBJECT& subject,
                                          const std::set<std::string>& disabled) {
    std::vector<GFPDB_LINT_FINDING> findings;
    REPORT report(subject, findings);
    for (const LINT_RULE& rule : lint_rules) {
        if (disabled.count(rule.info.id))
            continue;
        report.set_rule(rule.info.id);
        rule.check(subject, report);
    }
    return findings;
}

}  // namespace

const std::vector<GFPDB_LINT_RULE_INFO>& gfpdb_lint_rules() {
    static const std::vector<GFPDB_LINT_RULE_INFO> rules = [] {
        std::vector<GFPDB_LINT_RULE_INFO> list;
        for (const LINT_RULE& rule : lint_rules)
            list.push_back(rule.info);
        return list;
    }();
    return rules;
}

bool gfpdb_lint_rule_exists(const std::string& id) {
    for (const LINT_RULE& rule : lint_rules)
        if (id == rule.info.id)
            return true;
    return false;
}

GFPDB_QSPI_LINT::GFPDB_QSPI_LINT(std::set<std::string> disabled)
    : m_disabled(std::move(disabled)) {}

std::vector<GFPDB_LINT_FINDING> GFPDB_QSPI_LINT::lint_flash(
    GFPDB_FLASH* flash, const std::vector<GFPDB_FLASH*>& others) const {
    SUBJECT subject;
    subject.device = flash->get_name();
    subject.is_device = true;
    subject.user = flash->get_flash_removable_permission();
    subject.flash = flash;
    subject.others = &others;
    subject.id = id_bytes(flash->get_parameter_value(GFPDB_FLASH_PARAM_ID));
    subject.voltage = flash->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE);
    subject.density = flash->get_density();
    subject.bytes = flash->get_density_in_bytes_qword();
    subject.dies = flash->get_parameter_value_in_dword(GFPDB_FLASH_PARAM_TOTAL_DIE);
    subject.dummy = flash->get_parameter_value_in_dword(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE);
    subject.dummy_x4 = flash->get_parameter_value_in_dword(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4);
    subject.template_vendor =
        vendor_of_template(flash->get_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE));
    // The chip's own maker decides its commands; the template's stands in for an unknown one.
    subject.chip_vendor = subject.id.empty() ? nullptr : vendor_of_maker(subject.id[0]);
    if (!subject.chip_vendor)
        subject.chip_vendor = subject.template_vendor;
    read_flows(subject, flash->get_operation_list(GFPDB_PROG_FLOW_TYPE_SFL),
               flash->get_operation_list(GFPDB_PROG_FLOW_TYPE_SDM));
    return run_rules(subject, m_disabled);
}

std::vector<GFPDB_LINT_FINDING> GFPDB_QSPI_LINT::lint_template(
    const std::string& name, const std::vector<GFPDB_OPERATION*>* sfl,
    const std::vector<GFPDB_OPERATION*>* sdm, const std::string& vendor) const {
    SUBJECT subject;
    subject.template_name = name;
    subject.template_vendor = vendor_of_template(vendor);
    subject.chip_vendor = subject.template_vendor;
    read_flows(subject, sfl, sdm);
    return run_rules(subject, m_disabled);
}

std::vector<GFPDB_LINT_FINDING> GFPDB_QSPI_LINT::lint_database(GFPDB_MGR* manager) const {
    std::vector<GFPDB_LINT_FINDING> findings;
    const auto append = [&findings](std::vector<GFPDB_LINT_FINDING> more) {
        findings.insert(findings.end(), more.begin(), more.end());
    };
    for (int t = 0; t < GFPDB_PROG_FLOW_TEMPLATE_COUNT; ++t) {
        const auto golden = static_cast<GFPDB_PROG_FLOW_TEMPLATE>(t);
        append(lint_template(
            gfpdb_prog_flow_template_name[t],
            manager->get_prog_flow_template_operation_list(golden, GFPDB_PROG_FLOW_TYPE_SFL),
            manager->get_prog_flow_template_operation_list(golden, GFPDB_PROG_FLOW_TYPE_SDM),
            gfpdb_prog_flow_template_name[t]));
    }
    for (std::string name : manager->get_user_template_list())
        append(lint_template(
            name, manager->get_user_template_operation_list(name, GFPDB_PROG_FLOW_TYPE_SFL),
            manager->get_user_template_operation_list(name, GFPDB_PROG_FLOW_TYPE_SDM)));
    std::vector<GFPDB_FLASH*> devices;
    for (const std::string& name : manager->get_new_config_device_list(
             manager->get_active_device_family(), manager->get_active_config_mode(), true))
        if (GFPDB_FLASH* flash = manager->get_flash(name, true))
            devices.push_back(flash);
    for (GFPDB_FLASH* flash : devices)
        append(lint_flash(flash, devices));
    return findings;
}

size_t GFPDB_QSPI_LINT::count(const std::vector<GFPDB_LINT_FINDING>& findings,
                              GFPDB_LINT_SEVERITY severity) {
    return static_cast<size_t>(std::count_if(
        findings.begin(), findings.end(),
        [severity](const GFPDB_LINT_FINDING& finding) { return finding.severity == severity; }));
}
