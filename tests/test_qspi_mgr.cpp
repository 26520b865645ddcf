// The QSPI manager: loading the golden file and the user folders with their precedence and
// failures, the editor's queries and their order, the editing permission, and the QSPI
// validators with their warnings and texts.
#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "support/qspi_fixture.h"

namespace {

using namespace gfpdb_test;

const std::vector<std::string> vendors = {"Micron", "Macronix", "Cypress", "Winbond"};

// The built-in devices of the golden file, by voltage, in name order.
const std::vector<std::string> golden_1v8 = {"GF25M01GU", "GF25M02GU", "GF25M256U",
                                             "GF25M512U", "GF25W512U", "GF25X256U"};
const std::vector<std::string> golden_3v3 = {"GF25M064L", "GF25M128L", "GF25S128L", "GF25S512L",
                                             "GF25W016L", "GF25W256L", "GF25X01GL", "GF25X128L"};

std::vector<std::string> all_golden() {
    std::vector<std::string> names = golden_1v8;
    names.insert(names.end(), golden_3v3.begin(), golden_3v3.end());
    std::sort(names.begin(), names.end());
    return names;
}

using QspiLoading = QSPI_DB_TEST;
using QspiQueries = QSPI_DB_TEST;
using QspiValidation = QSPI_DB_TEST;

// ---------------------------------------------------------------------------------------------
// Construction on the bundled data

TEST_F(QspiLoading, BundledDataLoadsEveryDeviceAndTemplateSilently) {
    MESSAGE_RECORDER recorder;
    auto mgr = load();
    EXPECT_TRUE(recorder.posted.empty());
    EXPECT_EQ(mgr->get_new_config_device_list(DEV_FAMILY_QSPI_DEFAULT,
                                              PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4, true),
              all_golden());
    EXPECT_EQ(mgr->get_prog_flow_template_list(), vendors);
    EXPECT_TRUE(mgr->get_user_template_list().empty());
    EXPECT_EQ(mgr->get_active_device_family(), DEV_FAMILY_QSPI_DEFAULT);
    EXPECT_EQ(mgr->get_active_config_mode(), PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4);
    EXPECT_FALSE(mgr->get_use_sdm_mode());
    EXPECT_EQ(mgr->m_flash, nullptr);

    // Built-in devices count as host-folder devices that cannot be removed.
    GFPDB_FLASH* flash = mgr->get_flash("GF25W016L", true);
    ASSERT_NE(flash, nullptr);
    EXPECT_FALSE(flash->get_flash_removable_permission());
    EXPECT_EQ(flash->get_db_dir(), host_dir());
    EXPECT_EQ(flash->get_parameter_value(GFPDB_FLASH_PARAM_ID), "0xEF 0x40 0x15");
    EXPECT_EQ(flash->get_density(), "16Mb");
    EXPECT_EQ(flash->get_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE), "Winbond");
    EXPECT_EQ(mgr->m_flash_db_zorvane_dir_map.size(), 14u);
    EXPECT_EQ(mgr->m_flash_db_active_dir_map.at("GF25W016L"), host_dir() + "pgm_flash_db_qspi.xml");
    EXPECT_TRUE(mgr->m_flash_db_custom_dir_map.empty());
}

TEST_F(QspiLoading, NewInstanceIsAnotherFullyLoadedManager) {
    write_custom_file("pgm_flash_a.xml", device_xml("CUST1"));
    auto mgr = load();
    std::unique_ptr<GFPDB_MGR> other(mgr->get_new_instance());
    ASSERT_NE(other.get(), mgr.get());
    EXPECT_TRUE(other->device_exist_in_db("CUST1", true));
    EXPECT_NE(other->get_flash("CUST1", true), mgr->get_flash("CUST1", true));
}

TEST_F(QspiLoading, LegacyObjectGoesWhenARecordIsCreated) {
    auto mgr = load();
    GFPDB_FLASH* legacy = mgr->get_flash("SQD32", true);
    ASSERT_NE(legacy, nullptr);
    EXPECT_EQ(legacy->get_family(), DEV_FAMILY_QSPI_FLASH);
    EXPECT_EQ(mgr->m_flash_map.count("SQD32"), 0u);
    // The leak checker sees whether the legacy object was freed here; the new record goes
    // with the manager.
    GFPDB_FLASH* fresh = mgr->create_flash("NEW1");
    EXPECT_EQ(mgr->m_flash, fresh);
}

TEST_F(QspiLoading, BrokenGoldenFileStopsTheProgramAtTheFirstBrokenCount) {
    const std::string golden = read_file(host_dir() + "pgm_flash_db_qspi.xml");
    // The first element of a kind cut out, and the loader's count condition that stops it.
    const struct {
        const char* element;
        const char* condition;
    } cases[] = {
        {"GOLDEN_TEMPLATE", "object->get_child_count(PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE) == 1"},
        {"CYPRESS", "template_list.at(0)->get_child_count(PGM_COMMON_XML_ENUM_CYPRESS) == 1"},
        {"SFL", "prog_flow_list.at(0)->get_child_count(PGM_COMMON_XML_ENUM_SFL) == 1"},
        {"ERASE", "xml->get_child_count(PGM_COMMON_XML_ENUM_ERASE) == 1"},
        {"DEVICE_INFO", "flash_element->get_child_count(PGM_COMMON_XML_ENUM_DEVICE_INFO) == 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.element);
        const std::string open = std::string("<") + c.element + ">";
        const std::string close = std::string("</") + c.element + ">";
        const size_t from = golden.find(open);
        const size_t to = golden.find(close, from) + close.size();
        write_file(host_dir() + "pgm_flash_db_qspi.xml",
                   golden.substr(0, from) + golden.substr(to));
        EXPECT_DEATH(load(), literal(c.condition));
    }
}

// ---------------------------------------------------------------------------------------------
// Loading precedence

const std::string reusing_built_in_name =
    device_xml("USR1") + device_xml("GF25M064L") + device_xml("USR2") + template_xml("Flow_a");

TEST_F(QspiLoading, CustomFileReusingABuiltInNameReplacesIt) {
    write_custom_file("pgm_flash_dup.xml", reusing_built_in_name);
    MESSAGE_RECORDER recorder;
    auto mgr = load();
    EXPECT_TRUE(recorder.posted.empty());
    GFPDB_FLASH* replaced = mgr->get_flash("GF25M064L", true);
    EXPECT_TRUE(replaced->get_flash_removable_permission());
    EXPECT_EQ(replaced->get_db_dir(), custom_dir());
    EXPECT_EQ(replaced->get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE), "1.8V");
    EXPECT_TRUE(mgr->device_exist_in_db("USR2", true));
    EXPECT_EQ(mgr->get_user_template_list(), std::vector<std::string>{"Flow_a"});
    EXPECT_EQ(mgr->m_flash_map.size(), 14u + 2u);
    // The host map keeps the built-in entry; the active map points at the custom file.
    EXPECT_EQ(mgr->m_flash_db_zorvane_dir_map.at("GF25M064L"),
              host_dir() + "pgm_flash_db_qspi.xml");
    EXPECT_EQ(mgr->m_flash_db_active_dir_map.at("GF25M064L"), custom_dir() + "pgm_flash_dup.xml");
}

// A fault in a user file: what precedes it loads, what follows it in that file does not (a
// template ends only the templates after it), and the next file loads whole.
TEST_F(QspiLoading, FaultInAUserFileDropsWhatFollowsItInThatFile) {
    auto device = [](const char* name, void (*change)(DEVICE_XML&)) {
        DEVICE_XML d{name};
        change(d);
        return device_xml(d);
    };
    const std::string bad_id = device("BAD", [](DEVICE_XML& d) { d.id = "0x20 0x1BA"; });
    const std::string bad_values = device("BAD", [](DEVICE_XML& d) {
        d.voltage = "3.3V";
        d.density = "3Mb";
        d.die = 0;
        d.dummy = 16;
        d.dummy_x4 = 17;
    });
    // Too short for the line-break escape.
    const std::string short_text =
        device("BAD", [](DEVICE_XML& d) { d.sfl_erase_actions = custom_action("x"); });
    using NAMES = std::vector<std::string>;
    auto expect_load = [&](const std::string& host, const std::string& custom_a,
                           const std::string& custom_b, const std::vector<unsigned>& ids,
                           const char* posted, const NAMES& loaded, const NAMES& dropped,
                           const NAMES& templates) {
        fs::remove_all(custom_dir());
        fs::create_directories(custom_dir());
        fs::remove(host_dir() + "pgm_flash_h.xml");
        const std::pair<std::string, std::string> files[] = {
            {host_dir() + "pgm_flash_h.xml", host},
            {custom_dir() + "pgm_flash_a.xml", custom_a},
            {custom_dir() + "pgm_flash_b.xml", custom_b}};
        for (const auto& [path, body] : files) {
            if (!body.empty())
                write_file(path, qspi_file(body));
        }
        MESSAGE_RECORDER recorder;
        auto mgr = load();
        ASSERT_EQ(recorder.ids(), ids);
        if (!ids.empty()) {
            EXPECT_NE(recorder.posted[0].text.find(posted), std::string::npos)
                << recorder.posted[0].text;
        }
        for (const std::string& name : loaded)
            EXPECT_TRUE(mgr->device_exist_in_db(name, true)) << name;
        for (const std::string& name : dropped)
            EXPECT_FALSE(mgr->device_exist_in_db(name, true)) << name;
        EXPECT_EQ(mgr->get_user_template_list(), templates);
    };
    expect_load(reusing_built_in_name, "", "", {20482}, "names 'GF25M064L' in the ", {"USR1"},
                {"USR2"}, {});
    expect_load("", device_xml("SAME"), device_xml("SAME") + device_xml("LATER"), {20482}, "'SAME'",
                {"SAME"}, {"LATER"}, {});
    expect_load("", device_xml("GOOD") + bad_id + device_xml("AFTER") + template_xml("Flow_a"),
                device_xml("NEXT_FILE"), {20477}, "Device ID '0x20 0x1BA' is invalid.",
                {"GOOD", "NEXT_FILE"}, {"BAD", "AFTER"}, {});
    expect_load("", bad_values, "", {20476, 20478, 20479, 20543, 20543}, "'3.3V'", {}, {"BAD"}, {});
    expect_load("", device_xml("GOOD") + short_text, "", {20509}, "pgm_flash_a.xml", {"GOOD"},
                {"BAD"}, {});
    expect_load("",
                template_xml("Flow_a") + template_xml("Flow_bad", write_reg_action("0x100")) +
                    template_xml("Flow_c"),
                "", {20486}, "Action command '0x100' is invalid.", {}, {}, {"Flow_a", "Flow_c"});
    expect_load(template_xml("Flow_a"), "",
                template_xml("Flow_b") + template_xml("Flow_a") + template_xml("Flow_c"), {}, "",
                {}, {}, {"Flow_a", "Flow_b"});
}

TEST_F(QspiLoading, CustomFolderEqualToTheHostFolderIsReadOnce) {
    write_host_file("pgm_flash_h.xml", device_xml("HOST1"));
    for (const std::string& spelling : {m_host.xml_dir(), m_host.path() + "xml/./"}) {
        SCOPED_TRACE(spelling);
        GFPDB_MGR::set_db_custom_dir(spelling);
        MESSAGE_RECORDER recorder;
        auto mgr = load();
        EXPECT_TRUE(recorder.posted.empty());
        EXPECT_TRUE(mgr->device_exist_in_db("HOST1", true));
        EXPECT_TRUE(mgr->m_flash_db_custom_dir_map.empty());
        for (const std::string& line : recorder.debug)
            EXPECT_EQ(line.find("custom directory"), std::string::npos) << line;
    }
}

TEST_F(QspiLoading, DescriptionEscapesBecomeLineBreaks) {
    struct CASE {
        const char* in_file;
        const char* loaded;
    };
    const CASE cases[] = {
        {"Erase data\\nOnly 64KB blocks", "Erase data\nOnly 64KB blocks"},
        {"Erase data\\n", "Erase data\n"},
        {"a\\\\nb", "a\\\nb"},  // only the backslash next to the n is taken
        {"ab", "ab"},
    };
    std::string body;
    for (size_t i = 0; i < std::size(cases); ++i) {
        DEVICE_XML d{"DEV" + std::to_string(i)};
        d.sfl_erase_actions = custom_action(cases[i].in_file);
        body += device_xml(d);
    }
    write_custom_file("pgm_flash_a.xml", body);
    MESSAGE_RECORDER recorder;
    auto mgr = load();
    EXPECT_TRUE(recorder.posted.empty());
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].in_file);
        GFPDB_FLASH* flash = mgr->get_flash("DEV" + std::to_string(i), true);
        ASSERT_NE(flash, nullptr);
        GFPDB_ACTION* custom = first_action(flash, GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_ACT_TYPE_CUSTOM);
        EXPECT_EQ(custom->get_property_value(GFPDB_ACT_PROPERTY_CUSTOM_DESCRIPTION),
                  cases[i].loaded);
    }
}

// ---------------------------------------------------------------------------------------------
// Queries

TEST_F(QspiQueries, UserTemplatesFollowTheVendorsInByteOrder) {
    write_custom_file("pgm_flash_t.xml", template_xml("zeta") + template_xml("Alpha"));
    auto mgr = load();
    EXPECT_EQ(mgr->get_user_template_list(), (std::vector<std::string>{"Alpha", "zeta"}));
    std::vector<std::string> expected = vendors;
    expected.push_back("Alpha");
    expected.push_back("zeta");
    EXPECT_EQ(mgr->get_prog_flow_template_list(), expected);
}

TEST_F(QspiQueries, LegacyListFollowsFamilyVoltageAndScheme) {
    struct CASE {
        int family;
        PGMIO_CONFIG_SCHEME scheme;
        bool show_all;
        std::vector<std::string> names;
    };
    const std::vector<std::string> every = {"KVRN128L", "KVRN16",  "KVRN256U", "KVRN64",
                                            "SQD128",   "SQD256U", "SQD32",    "SQD512U"};
    const CASE cases[] = {
        {7, PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4, false, {"SQD128", "SQD32"}},
        {7,
         PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X1,
         false,
         {"KVRN128L", "KVRN16", "KVRN64", "SQD128", "SQD32"}},
        {12, PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4, false, {"SQD256U", "SQD512U"}},
        {12, PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X1, false, {"KVRN256U", "SQD256U", "SQD512U"}},
        {7, PGMIO_CONFIG_SCHEME_SDMMC_X1, false, {}},
        {7, PGMIO_CONFIG_SCHEME_NONE, false, {}},
        {7, PGMIO_CONFIG_SCHEME_SDMMC_X1, true, every},  // the unsupported SQD1GU never shows
        {50, PGMIO_CONFIG_SCHEME_ACTIVE_SERIAL_X4, true, every},
    };
    auto mgr = load();
    for (const CASE& c : cases) {
        SCOPED_TRACE("family " + std::to_string(c.family) + " scheme " + std::to_string(c.scheme) +
                     (c.show_all ? " all" : ""));
        EXPECT_EQ(mgr->get_legacy_config_device_list(static_cast<DEV_FAMILY_ENUM>(c.family),
                                                     c.scheme, c.show_all),
                  c.names);
    }
}

TEST_F(QspiQueries, NewConfigListFollowsTheFamilyVoltageAndAddsAnUnknownFamily) {
    auto mgr = load();
    EXPECT_EQ(mgr->get_new_config_device_list(DEV_FAMILY_ENUM(12), PGMIO_CONFIG_SCHEME_NONE, false),
              golden_1v8);
    EXPECT_EQ(mgr->get_new_config_device_list(DEV_FAMILY_ENUM(7), PGMIO_CONFIG_SCHEME_NONE, false),
              golden_3v3);
    EXPECT_EQ(mgr->get_new_config_device_list(DEV_FAMILY_ENUM(7), PGMIO_CONFIG_SCHEME_NONE, true),
              all_golden());
    const DEV_FAMILY_ENUM unknown = DEV_FAMILY_ENUM(50);
    EXPECT_TRUE(mgr->get_new_config_device_list(unknown, PGMIO_CONFIG_SCHEME_NONE, false).empty());
    std::vector<DEV_FAMILY_ENUM> families = mgr->get_device_family_list();
    EXPECT_NE(std::find(families.begin(), families.end(), unknown), families.end());
    EXPECT_EQ(families.size(), 9u);
    // An unfiltered query does not look the family up.
    mgr->get_legacy_config_device_list(DEV_FAMILY_ENUM(1), PGMIO_CONFIG_SCHEME_NONE, true);
    EXPECT_EQ(mgr->get_device_family_list().size(), 9u);
}

TEST_F(QspiQueries, UserTemplateFlowOtherThanSdmIsTheSflList) {
    write_custom_file("pgm_flash_t.xml", template_xml("Flow_a"));
    auto mgr = load();
    std::string name = "Flow_a";
    const auto* sfl = mgr->get_user_template_operation_list(name, GFPDB_PROG_FLOW_TYPE_SFL);
    const auto* sdm = mgr->get_user_template_operation_list(name, GFPDB_PROG_FLOW_TYPE_SDM);
    EXPECT_NE(sfl, sdm);
    EXPECT_EQ(mgr->get_user_template_operation_list(name, static_cast<GFPDB_PROG_FLOW_TYPE>(5)),
              sfl);
    EXPECT_EQ((*sfl)[0]->get_action_list()->size(), 1u);
    EXPECT_TRUE((*sdm)[0]->get_action_list()->empty());
    EXPECT_EQ(mgr->get_prog_flow_template_operation_list(GFPDB_PROG_FLOW_TEMPLATE_MICRON,
                                                         static_cast<GFPDB_PROG_FLOW_TYPE>(5)),
              mgr->get_prog_flow_template_operation_list(GFPDB_PROG_FLOW_TEMPLATE_MICRON,
                                                         GFPDB_PROG_FLOW_TYPE_SFL));
}

TEST_F(QspiQueries, UnknownTemplatesStopTheProgram) {
    auto mgr = load();
    std::string name = "nosuch";
    EXPECT_DEATH(mgr->get_user_template_operation_list(name, GFPDB_PROG_FLOW_TYPE_SFL),
                 literal("Unknown user template nosuch"));
    EXPECT_DEATH(mgr->get_prog_flow_template_operation_list(
                     static_cast<GFPDB_PROG_FLOW_TEMPLATE>(4), GFPDB_PROG_FLOW_TYPE_SFL),
                 literal("Unknown programming flow template"));
}

TEST_F(QspiQueries, OperationEditingPermission) {
    write_custom_file("pgm_flash_a.xml", device_xml("USER1"));
    auto mgr = load();
    GFPDB_FLASH* built_in = mgr->get_flash("GF25M064L", true);
    GFPDB_FLASH* user = mgr->get_flash("USER1", true);
    EXPECT_FALSE(mgr->get_operation_editable_permission(built_in));
    EXPECT_TRUE(mgr->get_operation_editable_permission(user));
    EXPECT_TRUE(mgr->get_operation_editable_permission(nullptr));
    GFPDB_FLASH* fresh = mgr->create_flash("NEW1");
    EXPECT_TRUE(mgr->get_operation_editable_permission(fresh));
    fresh->set_name("SQD32");  // a legacy name counts as an existing device
    EXPECT_FALSE(mgr->get_operation_editable_permission(fresh));
    fresh->set_name("NEW1");

    mgr->set_active_device_family(DEV_FAMILY_ENUM(19));  // an SDM family
    for (GFPDB_FLASH* flash : {built_in, user, fresh, static_cast<GFPDB_FLASH*>(nullptr)})
        EXPECT_FALSE(mgr->get_operation_editable_permission(flash));

    // The setting overrides everything and is read on every call.
    cfg_set_value("pgm_gfpdb_enable_operation_editable", true);
    for (GFPDB_FLASH* flash : {built_in, user, fresh, static_cast<GFPDB_FLASH*>(nullptr)})
        EXPECT_TRUE(mgr->get_operation_editable_permission(flash));
    // The new record was never saved: make another one current before freeing it.
    mgr->get_flash("GF25M064L", true);
    delete fresh;
}

// ---------------------------------------------------------------------------------------------
// Validation

std::string id_error(const std::string& id) {
    return "Device ID '" + id +
           "' is invalid. It either contains an empty string or special characters, or it is not "
           "in the list of byte formats.";
}

TEST_F(QspiValidation, DeviceIdIsADataList) {
    auto mgr = load();
    // The data-list grammar, whose edges the base's own tests cover.
    expect_verdict(*mgr, GFPDB_FLASH_PARAM_ID, "0xEF 0x40 0x18");
    for (const char* id : {"", "0x20 256", "   "})
        expect_verdict(*mgr, GFPDB_FLASH_PARAM_ID, id, 20477, id_error(id));
}

TEST_F(QspiValidation, NumbersOfTheDevice) {
    struct CASE {
        GFPDB_FLASH_PARAM param;
        uint32_t value;
        unsigned warning;
        std::string error, posted;
    };
    const std::string dummy = "Device dummy clock cycle '";
    const CASE cases[] = {
        {GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, 0, 0, "", ""},
        {GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, 15, 0, "", ""},
        {GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, 16, 20543, dummy + "16' is invalid.",
         dummy + "16' is invalid."},
        {GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 15, 0, "", ""},
        {GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 16, 20543, dummy + "16' is invalid.",
         dummy + "16' is invalid."},
        // The text reads the value unsigned; the catalogue's %1!d! reads it signed.
        {GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, 4294967295u, 20543, dummy + "4294967295' is invalid.",
         dummy + "-1' is invalid."},
        {GFPDB_FLASH_PARAM_TOTAL_DIE, 1, 0, "", ""},
        {GFPDB_FLASH_PARAM_TOTAL_DIE, 8, 0, "", ""},
        {GFPDB_FLASH_PARAM_TOTAL_DIE, 0, 20479, "Total device die '0' is invalid.",
         "Total device die '0' is invalid."},
    };
    auto mgr = load();
    for (const CASE& c : cases) {
        SCOPED_TRACE("parameter " + std::to_string(c.param) + " value " + std::to_string(c.value));
        expect_value_verdict(*mgr, c.param, c.value, c.warning, c.error, c.posted);
    }
    std::string error;
    EXPECT_DEATH(mgr->is_parameter_valid(GFPDB_FLASH_PARAM_NAME, 1u, &error),
                 literal("Unknown flash parameter: 0"));
}

TEST_F(QspiValidation, EveryParameterIsKnown) {
    auto mgr = load();
    for (int p = 0; p <= 8; ++p)
        EXPECT_TRUE(mgr->is_parameter_valid(static_cast<GFPDB_FLASH_PARAM>(p))) << p;
    EXPECT_FALSE(mgr->is_parameter_valid(static_cast<GFPDB_FLASH_PARAM>(9)));
    // The base's own parameters still go to the base, whose rules its own tests cover.
    expect_verdict(*mgr, GFPDB_FLASH_PARAM_DENSITY, "4096Mb", 20478,
                   "Device density '4096Mb' is invalid.");
}

TEST_F(QspiValidation, TemplateNameRulesInOrder) {
    const std::string special =
        "' is invalid as it contains either an empty string or special characters.";
    const std::string reserved =
        "' is invalid as it conflicts with the reserved name for the programming flow template.";
    const std::string in_templates = "' is invalid as it already exist in the template database.";
    const std::string a_device =
        "' is invalid as it conflicts with existing device name in the device database.";
    // A device and a template both named Both: the template rule comes first.
    write_custom_file("pgm_flash_a.xml",
                      device_xml("Both") + template_xml("Alpha") + template_xml("Both"));
    auto mgr = load();
    struct CASE {
        std::string name;
        unsigned warning;
        std::string suffix;
    };
    const CASE cases[] = {
        {"", 20673, special},
        {"db", 20673, special},
        {"my-flow", 20673, special},
        {"Micron", 20674, reserved},
        {"micron", 0, ""},
        {"Alpha", 20676, in_templates},
        {"Both", 20676, in_templates},
        {"GF25M064L", 20675, a_device},
        {"SQD32", 20675, a_device},  // built-in names of the host count as devices
        {"New_flow1", 0, ""},
    };
    for (const CASE& c : cases) {
        std::string error = "Template name '" + c.name + c.suffix;
        // The text handed back for a device name has always been spelled "Tempate".
        if (c.warning == 20675)
            error = "Tempate name '" + c.name + c.suffix;
        expect_verdict(*mgr, GFPDB_FLASH_PARAM_TEMPLATE_NAME, c.name, c.warning, error,
                       "Template name '" + c.name + c.suffix);
    }
}

TEST_F(QspiValidation, ProgrammingFlowTemplateRules) {
    write_custom_file("pgm_flash_a.xml", template_xml("Alpha"));
    auto mgr = load();
    const auto flow = GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE;
    auto rejected = [&](const std::string& name) {
        expect_verdict(*mgr, flow, name, 20481,
                       "Programming flow template '" + name + "' is invalid.");
    };
    for (const std::string& name :
         {vendors[0], vendors[1], vendors[2], vendors[3], std::string("Alpha")})
        expect_verdict(*mgr, flow, name);
    for (const char* name : {"", "micron", "alpha", "Gone_flow"})
        rejected(name);

    // The record being edited may keep the template it follows, and only while it is current.
    GFPDB_FLASH* flash = mgr->create_flash("NEW1");
    flash->set_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, std::string("Gone_flow"));
    expect_verdict(*mgr, flow, "Gone_flow");
    flash->set_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, std::string(""));
    rejected("");
    flash->set_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, std::string("Gone_flow"));
    mgr->get_flash("GF25M064L", true);
    rejected("Gone_flow");
    delete flash;
}

}  // namespace
