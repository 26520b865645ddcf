// What the QSPI manager's tests share: a fixture with a throw-away host folder and custom
// folder, a manager that shows its maps, builders of user database files, a device record
// that carries every action type, and comparisons of records down to each property.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pgm/gfpdb/gfpdb_qspi_action.h"
#include "pgm/gfpdb/gfpdb_qspi_mgr.h"
#include "pgm/gfpdb/gfpdb_qspi_operation.h"
#include "test_support.h"

namespace gfpdb_test {

// The QSPI manager with the base's state in view.
class QSPI_MGR_PROBE : public GFPDB_QSPI_MGR {
public:
    using GFPDB_MGR::m_flash;
    using GFPDB_MGR::m_flash_db_active_dir_map;
    using GFPDB_MGR::m_flash_db_custom_dir_map;
    using GFPDB_MGR::m_flash_db_zorvane_dir_map;
    using GFPDB_MGR::m_flash_map;
    using GFPDB_MGR::m_template_db_dir_map;
    using GFPDB_MGR::m_user_flash_template_map;
};

// ---------------------------------------------------------------------------------------------
// User database files

inline std::string qspi_file(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QSPI_FLASH version=\"1\">\n" + body +
           "</QSPI_FLASH>\n";
}

inline std::string write_reg_action(const std::string& command = "0x06",
                                    const std::string& delay = "0") {
    return "<ACTION type=\"WRITE_REG\"><NAME>Write enable</NAME><COMMAND>" + command +
           "</COMMAND><DATA/><DELAY unit=\"us\">" + delay +
           "</DELAY><BUS_WIDTH>1-1</BUS_WIDTH></ACTION>\n";
}

inline std::string custom_action(const std::string& description,
                                 const std::string& direction = "start") {
    return "<ACTION type=\"CUSTOM\"><DESCRIPTION>" + description + "</DESCRIPTION><DIRECTION>" +
           direction + "</DIRECTION></ACTION>\n";
}

// Both flows with all five operations; the SFL flow starts with a Write Register action and
// its Erase operation holds `sfl_erase_actions`.
inline std::string flow_xml(const std::string& sfl_erase_actions = "") {
    return "<PROGRAMMING_FLOW><SFL><INITIALIZATION>" + write_reg_action() +
           "</INITIALIZATION><PROGRAM/><ERASE>" + sfl_erase_actions +
           "</ERASE><VERIFY_BLANKCHECK_EXAMINE/><TERMINATION/></SFL>"
           "<SDM><INITIALIZATION/><PROGRAM/><ERASE/><VERIFY_BLANKCHECK_EXAMINE/><TERMINATION/>"
           "</SDM></PROGRAMMING_FLOW>\n";
}

// One FLASH element; every value passes its rule unless a test changes it.
struct DEVICE_XML {
    explicit DEVICE_XML(std::string device_name) : name(std::move(device_name)) {}
    std::string name;
    std::string id = "0x9D 0x60 0x19";
    std::string voltage = "1.8V";
    std::string density = "256Mb";
    unsigned die = 1;
    unsigned dummy = 8;
    unsigned dummy_x4 = 6;
    std::string prog_flow_template = "Micron";
    std::string sfl_erase_actions;
};

inline std::string device_xml(const DEVICE_XML& d) {
    return "<FLASH><DEVICE_INFO><DEVICE_NAME>" + d.name + "</DEVICE_NAME><DEVICE_ID>" + d.id +
           "</DEVICE_ID><DEVICE_IO_VOLTAGE>" + d.voltage + "</DEVICE_IO_VOLTAGE><DEVICE_DENSITY>" +
           d.density + "</DEVICE_DENSITY><TOTAL_DEVICE_DIE>" + std::to_string(d.die) +
           "</TOTAL_DEVICE_DIE><DUMMY_CLOCK_CYCLE>" + std::to_string(d.dummy) +
           "</DUMMY_CLOCK_CYCLE><DUMMY_CLOCK_CYCLE_X4>" + std::to_string(d.dummy_x4) +
           "</DUMMY_CLOCK_CYCLE_X4><PROG_FLOW_TEMPLATE>" + d.prog_flow_template +
           "</PROG_FLOW_TEMPLATE></DEVICE_INFO>\n" + flow_xml(d.sfl_erase_actions) + "</FLASH>\n";
}

inline std::string device_xml(const std::string& name) {
    return device_xml(DEVICE_XML{name});
}

inline std::string template_xml(const std::string& name,
                                const std::string& sfl_erase_actions = "") {
    return "<USER_TEMPLATE><TEMPLATE_NAME>" + name + "</TEMPLATE_NAME>\n" +
           flow_xml(sfl_erase_actions) + "</USER_TEMPLATE>\n";
}

// Each action type as a file holds it: its children in the order written, a valid value of
// each, and the warning its absence posts (the warning of the property the child carries).
struct CHILD {
    const char* element;
    const char* value;
    unsigned warning;
};
struct ACTION_TYPE {
    const char* type;
    std::vector<CHILD> children;
};
inline const ACTION_TYPE action_types[] = {
    {"WRITE_REG",
     {{"NAME", "W", 20485},
      {"COMMAND", "0x06", 20486},
      {"DATA", "", 20496},
      {"DELAY", "0", 20500},
      {"BUS_WIDTH", "1-1", 20505}}},
    {"READ_REG",
     {{"NAME", "R", 20485},
      {"COMMAND", "0x05", 20486},
      {"DATA_LENGTH", "1", 20497},
      {"EXPECTED_DATA", "0x00", 20495},
      {"EXPECTED_DATA_MASK", "0x01", 20494},
      {"ATTEMPT_COUNT", "10", 20498},
      {"DELAY", "0", 20500},
      {"BUS_WIDTH", "1-1", 20505}}},
    {"WRITE_DATA",
     {{"NAME", "P", 20485},
      {"COMMAND", "0x02", 20486},
      {"ADDRESS", "from .jic file", 20502},
      {"DATA", "from .jic file", 20496},
      {"PAGE_SIZE", "256", 20501},
      {"ADDRESSING_MODE", "3", 20503},
      {"DELAY", "0", 20500},
      {"BUS_WIDTH", "1-1-1", 20505}}},
    {"READ_DATA",
     {{"NAME", "F", 20485},
      {"COMMAND", "0x0B", 20486},
      {"ADDRESS", "from .jic file", 20502},
      {"DATA_LENGTH", "from .jic file", 20497},
      {"EXPECTED_DATA", "from .jic file", 20495},
      {"EXPECTED_DATA_MASK", "", 20494},
      {"ADDRESSING_MODE", "3", 20503},
      {"ACT_DUMMY_CLOCK_CYCLE", "8", 20504},
      {"DELAY", "0", 20500},
      {"BUS_WIDTH", "1-1-1", 20505}}},
    {"ERASE",
     {{"NAME", "E", 20485},
      {"COMMAND", "0x20", 20486},
      {"ADDRESS", "from .jic file", 20502},
      {"ERASE_SIZE", "4096", 20499},
      {"ADDRESSING_MODE", "3", 20503},
      {"DELAY", "0", 20500},
      {"BUS_WIDTH", "1-1", 20505}}},
    {"CUSTOM", {{"DESCRIPTION", "Erase data", 20509}, {"DIRECTION", "start", 20507}}},
};

// ---------------------------------------------------------------------------------------------
// Records

inline GFPDB_ACTION* new_action(GFPDB_MGR& mgr, GFPDB_ACT_TYPE type,
                                const std::vector<std::string>& values) {
    GFPDB_ACTION* action = mgr.create_action(type);
    const std::vector<GFPDB_ACT_PROPERTY> properties = action->get_property_enum_list();
    EXPECT_EQ(properties.size(), values.size());
    for (size_t i = 0; i < properties.size() && i < values.size(); ++i)
        action->set_property_value(properties[i], values[i]);
    return action;
}

inline GFPDB_OPERATION* new_operation(GFPDB_MGR& mgr, GFPDB_OP_TYPE type,
                                      const std::vector<GFPDB_ACTION*>& actions) {
    GFPDB_OPERATION* operation = mgr.create_operation(type);
    for (GFPDB_ACTION* action : actions)
        operation->add_action_into_list(action);
    return operation;
}

// A custom description with a line break inside and one at its end.
const std::string two_line_description = "Erase data\nuse 4KB sectors\n";

// A new device record (from create_flash, so the manager can take it over) whose SFL flow
// holds every action type with every property set, numbers in decimal, and whose SDM flow is
// a copy of the first vendor template's.
inline GFPDB_FLASH* new_device(GFPDB_MGR& mgr, const std::string& name) {
    GFPDB_FLASH* flash = mgr.create_flash(name);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_ID, std::string("0x9D 0x60 0x19"));
    flash->set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, std::string("1.8V"));
    flash->set_density("256Mb");
    flash->set_parameter_value(GFPDB_FLASH_PARAM_TOTAL_DIE, 2u);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, 10u);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 6u);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, std::string("Micron"));

    flash->set_operation_list(
        {
            new_operation(
                mgr, GFPDB_OP_TYPE_INITIALIZATION,
                {new_action(mgr, GFPDB_ACT_TYPE_WRITE_REGISTER,
                            {"Write status", "0x01", "0x00 0x02", "10", "1-1"}),
                 new_action(mgr, GFPDB_ACT_TYPE_READ_REGISTER,
                            {"Read status", "0x05", "1", "0x00", "0x01", "1000", "10", "1-1"})}),
            new_operation(mgr, GFPDB_OP_TYPE_PROGRAM,
                          {new_action(mgr, GFPDB_ACT_TYPE_WRITE_DATA,
                                      {"Page program", "0x12", "from .jic file", "from .jic file",
                                       "256", "4", "0", "1-1-1"})}),
            new_operation(
                mgr, GFPDB_OP_TYPE_ERASE,
                {new_action(mgr, GFPDB_ACT_TYPE_CUSTOM, {two_line_description, "start"}),
                 new_action(mgr, GFPDB_ACT_TYPE_ERASE,
                            {"Sector erase", "0x21", "from .jic file", "4096", "4", "400", "1-1"}),
                 new_action(mgr, GFPDB_ACT_TYPE_CUSTOM, {"End of data", "end"})}),
            new_operation(mgr, GFPDB_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE,
                          {new_action(mgr, GFPDB_ACT_TYPE_READ_DATA,
                                      {"Fast read", "0x0C", "0x1000", "16", "", "", "4", "8", "0",
                                       "1-1-1"})}),
            new_operation(mgr, GFPDB_OP_TYPE_TERMINATION,
                          {new_action(mgr, GFPDB_ACT_TYPE_WRITE_REGISTER,
                                      {"Write disable", "0x04", "", "0", "1-1"})}),
        },
        GFPDB_PROG_FLOW_TYPE_SFL);

    std::vector<GFPDB_OPERATION*> sdm;
    for (GFPDB_OPERATION* op : *mgr.get_prog_flow_template_operation_list(
             GFPDB_PROG_FLOW_TEMPLATE_MICRON, GFPDB_PROG_FLOW_TYPE_SDM)) {
        sdm.push_back(new GFPDB_QSPI_OPERATION(*static_cast<GFPDB_QSPI_OPERATION*>(op)));
    }
    flash->set_operation_list(sdm, GFPDB_PROG_FLOW_TYPE_SDM);
    return flash;
}

// The first action of a type in a flow, for tests that change one value.
inline GFPDB_ACTION* first_action(GFPDB_FLASH* flash, GFPDB_PROG_FLOW_TYPE flow,
                                  GFPDB_ACT_TYPE type) {
    for (GFPDB_OPERATION* op : *flash->get_operation_list(flow)) {
        for (GFPDB_ACTION* action : *op->get_action_list()) {
            if (action->get_action_type() == type)
                return action;
        }
    }
    ADD_FAILURE() << "no action of type " << type;
    return nullptr;
}

inline void expect_same_action(GFPDB_ACTION* expected, GFPDB_ACTION* actual) {
    EXPECT_EQ(actual->get_action_type(), expected->get_action_type());
    EXPECT_EQ(actual->get_name(), expected->get_name());
    ASSERT_EQ(actual->get_property_enum_list(), expected->get_property_enum_list());
    for (GFPDB_ACT_PROPERTY p : expected->get_property_enum_list())
        EXPECT_EQ(actual->get_property_value(p), expected->get_property_value(p))
            << "property " << p;
}

inline void expect_same_operations(const std::vector<GFPDB_OPERATION*>& expected,
                                   const std::vector<GFPDB_OPERATION*>& actual) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("operation " + std::to_string(i));
        EXPECT_EQ(actual[i]->get_operation_type(), expected[i]->get_operation_type());
        EXPECT_EQ(actual[i]->get_name(), expected[i]->get_name());
        EXPECT_EQ(actual[i]->get_operation_description(), expected[i]->get_operation_description());
        const std::vector<GFPDB_ACTION*>& a = *actual[i]->get_action_list();
        const std::vector<GFPDB_ACTION*>& e = *expected[i]->get_action_list();
        ASSERT_EQ(a.size(), e.size());
        for (size_t j = 0; j < e.size(); ++j) {
            SCOPED_TRACE("action " + std::to_string(j));
            expect_same_action(e[j], a[j]);
        }
    }
}

// Every parameter but the template name, which a device file does not hold.
inline void expect_same_device(GFPDB_FLASH* expected, GFPDB_FLASH* actual) {
    ASSERT_NE(actual, nullptr);
    EXPECT_EQ(actual->get_name(), expected->get_name());
    EXPECT_EQ(actual->get_density(), expected->get_density());
    for (int p = GFPDB_FLASH_PARAM_NAME; p <= GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE; ++p) {
        const auto param = static_cast<GFPDB_FLASH_PARAM>(p);
        if (param == GFPDB_FLASH_PARAM_TEMPLATE_NAME)
            continue;
        EXPECT_EQ(actual->get_parameter_value(param), expected->get_parameter_value(param))
            << "parameter " << p;
        EXPECT_EQ(actual->get_parameter_value_in_dword(param),
                  expected->get_parameter_value_in_dword(param))
            << "parameter " << p;
    }
    for (GFPDB_PROG_FLOW_TYPE flow : {GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_PROG_FLOW_TYPE_SDM}) {
        SCOPED_TRACE(flow == GFPDB_PROG_FLOW_TYPE_SFL ? "SFL" : "SDM");
        expect_same_operations(*expected->get_operation_list(flow),
                               *actual->get_operation_list(flow));
    }
}

// Five operations, one of each type, in type order.
inline void expect_five_operations_in_order(const std::vector<GFPDB_OPERATION*>* list) {
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->size(), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ((*list)[i]->get_operation_type(), static_cast<GFPDB_OP_TYPE>(i));
}

// ---------------------------------------------------------------------------------------------
// Validators

// One verdict of a validator, for a text or a number: with an error pointer the text handed
// back and the warning (posted: the catalogue text, when it differs), without one the same
// verdict in silence.
template <typename VALUE>
void expect_value_verdict(GFPDB_MGR& mgr, GFPDB_FLASH_PARAM param, const VALUE& value,
                          unsigned warning = 0, const std::string& error = "",
                          const std::string& posted = "") {
    MESSAGE_RECORDER recorder;
    EXPECT_EQ(mgr.is_parameter_valid(param, value, nullptr), warning == 0);
    EXPECT_TRUE(recorder.posted.empty());
    std::string handed = "untouched";
    EXPECT_EQ(mgr.is_parameter_valid(param, value, &handed), warning == 0);
    EXPECT_EQ(handed, warning == 0 ? "untouched" : error);
    if (warning == 0) {
        EXPECT_TRUE(recorder.posted.empty());
        return;
    }
    ASSERT_EQ(recorder.ids(), std::vector<unsigned>{warning});
    EXPECT_EQ(recorder.posted[0].type, MSG_POST_TYPE_WARNING);
    EXPECT_EQ(recorder.posted[0].text, posted.empty() ? error : posted);
}

inline void expect_verdict(GFPDB_MGR& mgr, GFPDB_FLASH_PARAM param, const std::string& value,
                           unsigned warning = 0, const std::string& error = "",
                           const std::string& posted = "") {
    SCOPED_TRACE("parameter " + std::to_string(param) + " '" + value + "'");
    expect_value_verdict(mgr, param, value, warning, error, posted);
}

// ---------------------------------------------------------------------------------------------
// Fixture

// A host folder with the bundled data and an empty custom folder for each test; settings and
// the custom folder are forgotten afterwards.
class QSPI_DB_TEST : public ::testing::Test {
protected:
    void SetUp() override {
        cfg_clear_values();
        GFPDB_MGR::set_db_custom_dir(m_custom.path());
    }
    void TearDown() override {
        cfg_clear_values();
        GFPDB_MGR::set_db_custom_dir("");
    }

    // The two database folders as the persistence operations compare them.
    static std::string host_dir() {
        return FIO_PATH(GFPDB_MGR::get_db_zorvane_dir()).full_directory();
    }
    static std::string custom_dir() {
        return FIO_PATH(GFPDB_MGR::get_db_custom_dir()).full_directory();
    }

    void write_host_file(const std::string& name, const std::string& body) {
        write_file(host_dir() + name, qspi_file(body));
    }
    void write_custom_file(const std::string& name, const std::string& body) {
        write_file(custom_dir() + name, qspi_file(body));
    }

    static std::unique_ptr<QSPI_MGR_PROBE> load() { return std::make_unique<QSPI_MGR_PROBE>(); }

    static std::string device_file(const std::string& name, const std::string& dir = custom_dir()) {
        return dir + "pgm_flash_" + name + ".xml";
    }

    // The maps that a refused or empty operation must leave alone.
    struct MAPS {
        std::map<std::string, GFPDB_FLASH*> flash;
        std::map<std::string, std::string> zorvane, custom, active, templates;
        bool operator==(const MAPS& o) const {
            return flash == o.flash && zorvane == o.zorvane && custom == o.custom &&
                   active == o.active && templates == o.templates;
        }
    };
    static MAPS maps_of(QSPI_MGR_PROBE& mgr) {
        return {mgr.m_flash_map, mgr.m_flash_db_zorvane_dir_map, mgr.m_flash_db_custom_dir_map,
                mgr.m_flash_db_active_dir_map, mgr.m_template_db_dir_map};
    }

    // A record that update_db refused stays the caller's; it stops being current first, so
    // that the manager never looks at it again.
    static void discard(GFPDB_MGR& mgr, GFPDB_FLASH* flash) {
        mgr.get_flash("", true);
        delete flash;
    }

    HOST_DIR m_host;
    TEMP_DIR m_custom;
};

}  // namespace gfpdb_test
