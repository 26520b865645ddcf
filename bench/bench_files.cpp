// The benchmark folder generator. Devices are drawn from a few command-set profiles of serial
// NOR flash (status polling by busy bit or by flag register, three- or four-byte addressing,
// two or three erase sizes), so the loader sees the mix of actions real user files hold.
#include "bench/bench_files.h"

#include <cstdio>
#include <fstream>

namespace {

// splitmix64: the same sequence on every compiler and library, which the standard
// distributions do not promise.
class RANDOM {
public:
    explicit RANDOM(uint64_t seed) : m_state(seed) {}
    uint64_t next() {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t below(size_t count) { return static_cast<size_t>(next() % count); }
    bool chance(unsigned percent) { return below(100) < percent; }
    template <typename T, size_t N>
    const T& pick(const T (&items)[N]) {
        return items[below(N)];
    }

private:
    uint64_t m_state;
};

// Device i draws from its own stream, so a folder of 1,000 devices is the first 1,000 files
// of a folder of 10,000.
RANDOM device_random(uint64_t seed, size_t index) {
    RANDOM mixer(seed ^ (0xD1B54A32D192ED03ull * (index + 1)));
    return RANDOM(mixer.next());
}

std::string hex_byte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

// Indented like the library's own writer, two blanks a level.
class XML_TEXT {
public:
    XML_TEXT() { m_text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"; }
    void open(const char* tag, const char* attributes = "") {
        indent();
        m_text += '<';
        m_text += tag;
        m_text += attributes;
        m_text += ">\n";
        ++m_depth;
    }
    void close(const char* tag) {
        --m_depth;
        indent();
        m_text += "</";
        m_text += tag;
        m_text += ">\n";
    }
    void leaf(const char* tag, const std::string& value, const char* attributes = "") {
        indent();
        m_text += '<';
        m_text += tag;
        m_text += attributes;
        if (value.empty()) {
            m_text += "/>\n";
            return;
        }
        m_text += '>';
        for (char c : value) {
            if (c == '&')
                m_text += "&amp;";
            else if (c == '<')
                m_text += "&lt;";
            else
                m_text += c;
        }
        m_text += "</";
        m_text += tag;
        m_text += ">\n";
    }
    void leaf(const char* tag, unsigned long value) { leaf(tag, std::to_string(value)); }
    std::string take() { return std::move(m_text); }

private:
    void indent() { m_text.append(static_cast<size_t>(m_depth) * 2, ' '); }
    std::string m_text;
    int m_depth = 0;
};

const char* const from_file = "from .jic file";

// ---- Actions, one writer per action type, children in the order the library writes them --

void write_reg(XML_TEXT& x, const std::string& name, unsigned command, const std::string& data,
               unsigned delay) {
    x.open("ACTION", " type=\"WRITE_REG\"");
    x.leaf("NAME", name);
    x.leaf("COMMAND", hex_byte(command));
    x.leaf("DATA", data);
    x.leaf("DELAY", std::to_string(delay), " unit=\"us\"");
    x.leaf("BUS_WIDTH", "1-1");
    x.close("ACTION");
}

void read_reg(XML_TEXT& x, const std::string& name, unsigned command, unsigned expected,
              unsigned mask, unsigned attempts, unsigned delay) {
    x.open("ACTION", " type=\"READ_REG\"");
    x.leaf("NAME", name);
    x.leaf("COMMAND", hex_byte(command));
    x.leaf("DATA_LENGTH", "1");
    x.leaf("EXPECTED_DATA", hex_byte(expected));
    x.leaf("EXPECTED_DATA_MASK", hex_byte(mask));
    x.leaf("ATTEMPT_COUNT", attempts);
    x.leaf("DELAY", std::to_string(delay), " unit=\"us\"");
    x.leaf("BUS_WIDTH", "1-1");
    x.close("ACTION");
}

void write_data(XML_TEXT& x, const std::string& name, unsigned command, unsigned mode) {
    x.open("ACTION", " type=\"WRITE_DATA\"");
    x.leaf("NAME", name);
    x.leaf("COMMAND", hex_byte(command));
    x.leaf("ADDRESS", from_file);
    x.leaf("DATA", from_file);
    x.leaf("PAGE_SIZE", 256);
    x.leaf("ADDRESSING_MODE", mode);
    x.leaf("DELAY", "0", " unit=\"us\"");
    x.leaf("BUS_WIDTH", "1-1-1");
    x.close("ACTION");
}

void read_data(XML_TEXT& x, const std::string& name, unsigned command, unsigned mode,
               unsigned dummy) {
    x.open("ACTION", " type=\"READ_DATA\"");
    x.leaf("NAME", name);
    x.leaf("COMMAND", hex_byte(command));
    x.leaf("ADDRESS", from_file);
    x.leaf("DATA_LENGTH", from_file);
    x.leaf("EXPECTED_DATA", from_file);
    x.leaf("EXPECTED_DATA_MASK", "");
    x.leaf("ADDRESSING_MODE", mode);
    x.leaf("ACT_DUMMY_CLOCK_CYCLE", dummy);
    x.leaf("DELAY", "0", " unit=\"us\"");
    x.leaf("BUS_WIDTH", "1-1-1");
    x.close("ACTION");
}

void erase(XML_TEXT& x, const std::string& name, unsigned command, unsigned long size,
           unsigned mode) {
    x.open("ACTION", " type=\"ERASE\"");
    x.leaf("NAME", name);
    x.leaf("COMMAND", hex_byte(command));
    x.leaf("ADDRESS", from_file);
    x.leaf("ERASE_SIZE", size);
    x.leaf("ADDRESSING_MODE", mode);
    x.leaf("DELAY", "0", " unit=\"us\"");
    x.leaf("BUS_WIDTH", "1-1");
    x.close("ACTION");
}

void custom(XML_TEXT& x, const std::string& description, const char* direction) {
    x.open("ACTION", " type=\"CUSTOM\"");
    x.leaf("DESCRIPTION", description);
    x.leaf("DIRECTION", direction);
    x.close("ACTION");
}

// ---- Command-set profiles -------------------------------------------------------------

struct ERASE_SIZE {
    const char* label;  // "4KB sector"
    unsigned command3;  // three-byte address command
    unsigned command4;  // four-byte address command
    unsigned long bytes;
    unsigned attempts;  // status polls before the erase counts as failed
};
const ERASE_SIZE erase_sizes[] = {
    {"4KB sector", 0x20, 0x21, 4096, 4000},
    {"32KB block", 0x52, 0x5C, 32768, 16000},
    {"64KB sector", 0xD8, 0xDC, 65536, 20000},
};

// How a device says it is busy: the busy bit of the status register, or the ready bit of a
// flag status register.
struct STATUS_POLL {
    unsigned command, expected, mask;
};
const STATUS_POLL polls[] = {{0x05, 0x00, 0x01}, {0x70, 0x80, 0x80}};

struct PROFILE {
    STATUS_POLL poll;
    bool four_byte;           // density above 128 Mb: addresses take four bytes
    bool four_byte_commands;  // dedicated 4-byte commands rather than an address mode switch
    bool quad_enable;         // sets the quad enable bit during initialization
    size_t erase_count;       // 2 or 3 erase sizes, smallest first
    size_t first_erase;
    unsigned reset_delay;
    unsigned dummy;
};

void poll(XML_TEXT& x, const PROFILE& p, const std::string& what, unsigned attempts,
          unsigned delay) {
    read_reg(x, "Wait for " + what, p.poll.command, p.poll.expected, p.poll.mask, attempts, delay);
}

void write_flow(XML_TEXT& x, const char* tag, const PROFILE& p, bool sdm) {
    const unsigned mode = p.four_byte ? 4 : 3;
    const bool prefix = p.four_byte && p.four_byte_commands;
    x.open(tag);

    x.open("INITIALIZATION");
    write_reg(x, "Reset enable", 0x66, "", 0);
    write_reg(x, "Reset memory", 0x99, "", p.reset_delay);
    // The secure device manager waits out the reset itself.
    if (!sdm)
        poll(x, p, "reset", 1000, 10);
    if (p.quad_enable && !sdm) {
        write_reg(x, "Write enable", 0x06, "", 0);
        write_reg(x, "Write status register 2", 0x31, "0x02", 0);
    }
    if (p.four_byte && !p.four_byte_commands)
        write_reg(x, "Enter 4 byte address mode", 0xB7, "", 0);
    x.close("INITIALIZATION");

    x.open("PROGRAM");
    write_reg(x, "Write enable", 0x06, "", 0);
    write_data(x, prefix ? "4 byte page program" : "Page program", prefix ? 0x12 : 0x02, mode);
    poll(x, p, "page program", 1000, 10);
    x.close("PROGRAM");

    x.open("ERASE");
    custom(x,
           p.erase_count == 3 ? "Erase data\\nLargest block that fits is used first" : "Erase data",
           "start");
    for (size_t i = p.first_erase; i < p.first_erase + p.erase_count; ++i) {
        const ERASE_SIZE& size = erase_sizes[i];
        write_reg(x, "Write enable", 0x06, "", 0);
        erase(x, std::string(prefix ? "4 byte erase " : "Erase ") + size.label,
              prefix ? size.command4 : size.command3, size.bytes, mode);
        poll(x, p, std::string("erase ") + size.label, size.attempts, 100);
    }
    custom(x, "End of data", "end");
    x.close("ERASE");

    x.open("VERIFY_BLANKCHECK_EXAMINE");
    read_data(x, prefix ? "4 byte fast read" : "Fast read", prefix ? 0x0C : 0x0B, mode, p.dummy);
    x.close("VERIFY_BLANKCHECK_EXAMINE");

    x.open("TERMINATION");
    if (p.four_byte && !p.four_byte_commands)
        write_reg(x, "Exit 4 byte address mode", 0xE9, "", 0);
    write_reg(x, "Write disable", 0x04, "", 0);
    x.close("TERMINATION");

    x.close(tag);
}

void write_programming_flow(XML_TEXT& x, const PROFILE& p) {
    x.open("PROGRAMMING_FLOW");
    write_flow(x, "SFL", p, false);
    write_flow(x, "SDM", p, true);
    x.close("PROGRAMMING_FLOW");
}

PROFILE draw_profile(RANDOM& r, bool four_byte) {
    PROFILE p;
    p.poll = r.pick(polls);
    p.four_byte = four_byte;
    p.four_byte_commands = r.chance(50);
    p.quad_enable = r.chance(25);
    p.erase_count = r.chance(20) ? 3 : 2;
    p.first_erase = p.erase_count == 3 ? 0 : r.below(2);
    p.reset_delay = r.chance(50) ? 30 : 50;
    p.dummy = r.chance(70) ? 8 : 10;
    return p;
}

const char* const template_names[bench_template_file_count] = {
    "Busy_bit_flow", "Flag_status_flow", "Four_byte_flow", "Quad_enable_flow"};

struct DENSITY {
    const char* text;  // as the database holds it
    const char* code;  // as part numbers spell it
    unsigned id_byte;  // the JEDEC capacity byte
};
const DENSITY densities[] = {
    {"16Mb", "016", 0x15},   {"32Mb", "032", 0x16},   {"64Mb", "064", 0x17},
    {"128Mb", "128", 0x18},  {"256Mb", "256", 0x19},  {"512Mb", "512", 0x1A},
    {"1024Mb", "01G", 0x1B}, {"2048Mb", "02G", 0x1C}, {"128Mb", "128", 0x18},
    {"256Mb", "256", 0x19},
};

// Invented part-number families: prefix and manufacturer ID byte.
struct FAMILY {
    const char* prefix;
    unsigned maker;
};
const FAMILY families[] = {
    {"UQ25L", 0x1C}, {"NV25Q", 0x5E}, {"TX25F", 0x9D}, {"KP25W", 0xA1}, {"RM25U", 0xBA}};
const char* const grades[] = {"A", "B", "E", "J"};
const unsigned type_bytes[] = {0x40, 0x60, 0x70, 0x20};

}  // namespace

std::string bench_device_file_text(size_t index, uint64_t seed, std::string* name) {
    RANDOM r = device_random(seed, index);
    const FAMILY& family = r.pick(families);
    const DENSITY& density = r.pick(densities);
    const bool low_voltage = r.chance(35);
    char number[16];
    std::snprintf(number, sizeof number, "_%05zu", index);
    *name = std::string(family.prefix) + density.code + r.pick(grades) + number;
    const std::string id = hex_byte(family.maker) + " " + hex_byte(r.pick(type_bytes)) + " " +
                           hex_byte(density.id_byte);
    const bool four_byte = density.id_byte > 0x18;
    const PROFILE profile = draw_profile(r, four_byte);

    XML_TEXT x;
    x.open("QSPI_FLASH", " version=\"1\"");
    x.open("FLASH");
    x.open("DEVICE_INFO");
    x.leaf("DEVICE_NAME", *name);
    x.leaf("DEVICE_ID", id);
    x.leaf("DEVICE_IO_VOLTAGE", low_voltage ? "1.8V" : "3.0V/3.3V");
    x.leaf("DEVICE_DENSITY", density.text);
    x.leaf("TOTAL_DEVICE_DIE", density.id_byte == 0x1C && r.chance(50) ? 2 : 1);
    x.leaf("DUMMY_CLOCK_CYCLE", 8);
    x.leaf("DUMMY_CLOCK_CYCLE_X4", profile.dummy == 8 ? 10 : 6);
    x.leaf("PROG_FLOW_TEMPLATE", r.pick(template_names));
    x.close("DEVICE_INFO");
    write_programming_flow(x, profile);
    x.close("FLASH");
    x.close("QSPI_FLASH");
    return x.take();
}

namespace {
std::string template_file_text(size_t index, uint64_t seed) {
    RANDOM r = device_random(~seed, index);
    XML_TEXT x;
    x.open("QSPI_FLASH", " version=\"1\"");
    x.open("USER_TEMPLATE");
    x.leaf("TEMPLATE_NAME", template_names[index]);
    write_programming_flow(x, draw_profile(r, index == 2));
    x.close("USER_TEMPLATE");
    x.close("QSPI_FLASH");
    return x.take();
}

bool write_file(const std::string& path, const std::string& text, BENCH_FILES* files,
                std::string* error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        *error = "cannot write " + path;
        return false;
    }
    files->bytes += text.size();
    ++files->files;
    return true;
}
}  // namespace

bool bench_write_user_files(const std::string& dir, size_t device_count, uint64_t seed,
                            BENCH_FILES* files, std::string* error) {
    *files = BENCH_FILES();
    const std::string folder = dir.empty() || dir.back() == '/' ? dir : dir + "/";
    for (size_t i = 0; i < bench_template_file_count; ++i) {
        files->template_names.push_back(template_names[i]);
        const std::string path = folder + "pgm_flash_template_" + template_names[i] + ".xml";
        if (!write_file(path, template_file_text(i, seed), files, error))
            return false;
    }
    for (size_t i = 0; i < device_count; ++i) {
        std::string name;
        const std::string text = bench_device_file_text(i, seed, &name);
        if (!write_file(folder + "pgm_flash_" + name + ".xml", text, files, error))
            return false;
        files->device_names.push_back(name);
    }
    return true;
}
