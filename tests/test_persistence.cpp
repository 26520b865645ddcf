// Saving and deleting user devices and templates: round trips through a fresh manager, files
// shared by several records, the two folders' precedence, refusals of the file system, and
// the debug trail of a save.
#include <string>
#include <vector>

#include "pgm/gfpdb/gfpdb_qspi_flash.h"
#include "support/qspi_fixture.h"

namespace {

using namespace gfpdb_test;

using QspiPersistence = QSPI_DB_TEST;

bool has_line(const MESSAGE_RECORDER& recorder, const std::string& line) {
    return std::find(recorder.debug.begin(), recorder.debug.end(), line) != recorder.debug.end();
}

size_t line_index(const MESSAGE_RECORDER& recorder, const std::string& line) {
    return std::find(recorder.debug.begin(), recorder.debug.end(), line) - recorder.debug.begin();
}

// ---------------------------------------------------------------------------------------------
// Round trips

// Save, reload and delete again leave each folder, and the golden file, as they were.
TEST_F(QspiPersistence, DeviceRoundTripsThroughEitherFolder) {
    const std::string golden = read_file(host_dir() + "pgm_flash_db_qspi.xml");
    for (bool into_custom : {true, false}) {
        const std::string dir = into_custom ? custom_dir() : host_dir();
        const std::string name = into_custom ? "RT_CUSTOM" : "RT_HOST";
        SCOPED_TRACE(dir);
        const std::vector<std::string> before = listing(dir);
        auto mgr = load();
        GFPDB_FLASH* flash = new_device(*mgr, name);
        GFPDB_QSPI_FLASH expected(*static_cast<GFPDB_QSPI_FLASH*>(flash));
        MESSAGE_RECORDER recorder;
        ASSERT_TRUE(mgr->update_db(flash, dir));
        EXPECT_TRUE(recorder.posted.empty());
        EXPECT_EQ(mgr->get_flash(name, true), flash);
        EXPECT_EQ(mgr->m_flash_db_active_dir_map.at(name), device_file(name, dir));
        EXPECT_EQ((into_custom ? mgr->m_flash_db_custom_dir_map : mgr->m_flash_db_zorvane_dir_map)
                      .at(name),
                  device_file(name, dir));

        // An inner line break is escaped in the file, the last one is kept as it is.
        EXPECT_NE(read_file(device_file(name, dir))
                      .find("<DESCRIPTION>Erase data\\nuse 4KB sectors\n</DESCRIPTION>"),
                  std::string::npos);

        auto reloaded = load();
        GFPDB_FLASH* loaded = reloaded->get_flash(name, true);
        expect_same_device(&expected, loaded);
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(loaded->get_db_dir(), dir);
        EXPECT_TRUE(loaded->get_flash_removable_permission());
        EXPECT_TRUE(reloaded->delete_db(name, dir));
        EXPECT_FALSE(reloaded->device_exist_in_db(name, true));
        EXPECT_EQ(listing(dir), before);
    }
    EXPECT_EQ(read_file(host_dir() + "pgm_flash_db_qspi.xml"), golden);
}

TEST_F(QspiPersistence, NumberTextsAreWrittenAsTheNumberRuleReadsThem) {
    struct CASE {
        GFPDB_ACT_TYPE type;
        GFPDB_ACT_PROPERTY property;
        const char* text;
        const char* in_file;
        const char* loaded;
    };
    const CASE cases[] = {
        {GFPDB_ACT_TYPE_WRITE_REGISTER, GFPDB_ACT_PROPERTY_WRITE_REG_DELAY, "0x10",
         "<DELAY unit=\"us\">16</DELAY>", "16"},
        {GFPDB_ACT_TYPE_ERASE, GFPDB_ACT_PROPERTY_ERASE_ADDRESSING_MODE, "010",
         "<ADDRESSING_MODE>10</ADDRESSING_MODE>", "10"},  // a leading zero is not octal
        {GFPDB_ACT_TYPE_READ_REGISTER, GFPDB_ACT_PROPERTY_READ_REG_DELAY, "0x",
         "<DELAY unit=\"us\">0</DELAY>", "0"},
        {GFPDB_ACT_TYPE_READ_REGISTER, GFPDB_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT, "4294967295",
         "<ATTEMPT_COUNT>4294967295</ATTEMPT_COUNT>", "4294967295"},
    };
    auto mgr = load();
    GFPDB_FLASH* flash = new_device(*mgr, "NUMBERS");
    for (const CASE& c : cases)
        first_action(flash, GFPDB_PROG_FLOW_TYPE_SFL, c.type)
            ->set_property_value(c.property, c.text);
    ASSERT_TRUE(mgr->update_db(flash, custom_dir()));
    const std::string file = read_file(device_file("NUMBERS"));
    auto reloaded = load();
    GFPDB_FLASH* loaded = reloaded->get_flash("NUMBERS", true);
    ASSERT_NE(loaded, nullptr);
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_NE(file.find(c.in_file), std::string::npos);
        EXPECT_EQ(
            first_action(loaded, GFPDB_PROG_FLOW_TYPE_SFL, c.type)->get_property_value(c.property),
            c.loaded);
    }
}

TEST_F(QspiPersistence, RecordWithATemplateNameAlsoSavesTheTemplate) {
    auto mgr = load();
    GFPDB_FLASH* flash = new_device(*mgr, "DEV1");
    flash->set_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME, std::string("My_flow"));
    GFPDB_QSPI_FLASH expected(*static_cast<GFPDB_QSPI_FLASH*>(flash));
    ASSERT_TRUE(mgr->update_db(flash, custom_dir()));
    const std::string template_file = custom_dir() + "pgm_flash_template_My_flow.xml";
    EXPECT_EQ(listing(custom_dir()),
              (std::vector<std::string>{"pgm_flash_DEV1.xml", "pgm_flash_template_My_flow.xml"}));
    EXPECT_EQ(mgr->m_template_db_dir_map.at("My_flow"), template_file);
    EXPECT_EQ(mgr->get_user_template_list(), std::vector<std::string>{"My_flow"});
    EXPECT_TRUE(mgr->is_parameter_valid(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, "My_flow", nullptr));
    // The template holds copies: the device keeps its own operations.
    std::string name = "My_flow";
    for (GFPDB_PROG_FLOW_TYPE flow : {GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_PROG_FLOW_TYPE_SDM}) {
        const auto* list = mgr->get_user_template_operation_list(name, flow);
        expect_same_operations(*flash->get_operation_list(flow), *list);
        EXPECT_NE((*list)[0], (*flash->get_operation_list(flow))[0]);
    }

    auto reloaded = load();
    ASSERT_EQ(reloaded->get_user_template_list(), std::vector<std::string>{"My_flow"});
    for (GFPDB_PROG_FLOW_TYPE flow : {GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_PROG_FLOW_TYPE_SDM}) {
        expect_same_operations(*expected.get_operation_list(flow),
                               *reloaded->get_user_template_operation_list(name, flow));
    }
    // A device file does not hold the template name.
    EXPECT_EQ(
        reloaded->get_flash("DEV1", true)->get_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME),
        "");

    EXPECT_TRUE(reloaded->delete_template("My_flow"));
    EXPECT_EQ(listing(custom_dir()), std::vector<std::string>{"pgm_flash_DEV1.xml"});
    EXPECT_TRUE(reloaded->get_user_template_list().empty());
    EXPECT_EQ(reloaded->m_template_db_dir_map.count("My_flow"), 0u);
    EXPECT_FALSE(reloaded->delete_template("My_flow"));
    EXPECT_TRUE(load()->get_user_template_list().empty());
}

// The children an action of each type is written with, in order.
TEST_F(QspiPersistence, ActionsAreWrittenWithTheirTypesChildrenInOrder) {
    auto mgr = load();
    ASSERT_TRUE(mgr->update_db(new_device(*mgr, "DEV1"), custom_dir()));
    const std::string text = read_file(device_file("DEV1"));
    EXPECT_NE(text.find("<QSPI_FLASH version=\"1\">"), std::string::npos);
    for (const ACTION_TYPE& type : action_types) {
        SCOPED_TRACE(type.type);
        const size_t from = text.find("<ACTION type=\"" + std::string(type.type) + "\">");
        ASSERT_NE(from, std::string::npos);
        const std::string action = text.substr(from, text.find("</ACTION>", from) - from);
        std::vector<std::string> children, expected;
        for (size_t at = action.find('<', 1); at != std::string::npos;
             at = action.find('<', at + 1)) {
            if (action[at + 1] != '/')
                children.push_back(action.substr(at + 1, action.find_first_of(" />", at) - at - 1));
        }
        for (const CHILD& child : type.children)
            expected.push_back(child.element);
        EXPECT_EQ(children, expected);
    }
    EXPECT_NE(text.find("<DELAY unit=\"us\">400</DELAY>"), std::string::npos);
}

TEST_F(QspiPersistence, OperationsAreWrittenInTheListsOrder) {
    auto mgr = load();
    GFPDB_FLASH* flash = new_device(*mgr, "DEV1");
    std::vector<GFPDB_OPERATION*> reversed(
        flash->get_operation_list(GFPDB_PROG_FLOW_TYPE_SFL)->rbegin(),
        flash->get_operation_list(GFPDB_PROG_FLOW_TYPE_SFL)->rend());
    std::vector<GFPDB_OPERATION*> copies;
    for (GFPDB_OPERATION* op : reversed)
        copies.push_back(new GFPDB_QSPI_OPERATION(*static_cast<GFPDB_QSPI_OPERATION*>(op)));
    flash->set_operation_list(copies, GFPDB_PROG_FLOW_TYPE_SFL);
    ASSERT_TRUE(mgr->update_db(flash, custom_dir()));
    const std::string text = read_file(device_file("DEV1"));
    const size_t sfl = text.find("<SFL>");
    EXPECT_LT(text.find("<TERMINATION>", sfl), text.find("<INITIALIZATION>", sfl));
    // The loader finds operations by kind, so they come back in type order.
    expect_five_operations_in_order(
        load()->get_flash("DEV1", true)->get_operation_list(GFPDB_PROG_FLOW_TYPE_SFL));
}

TEST_F(QspiPersistence, FolderThatIsBothFoldersUsesTheHostMap) {
    GFPDB_MGR::set_db_custom_dir(m_host.xml_dir());
    auto mgr = load();
    ASSERT_TRUE(mgr->update_db(new_device(*mgr, "BOTH"), host_dir()));
    EXPECT_EQ(mgr->m_flash_db_zorvane_dir_map.count("BOTH"), 1u);
    EXPECT_TRUE(mgr->m_flash_db_custom_dir_map.empty());
}

// ---------------------------------------------------------------------------------------------
// Replacing and deleting

TEST_F(QspiPersistence, SavingOverADeviceOfTheSameFolderReplacesIt) {
    auto mgr = load();
    ASSERT_TRUE(mgr->update_db(new_device(*mgr, "DEV1"), custom_dir()));
    const size_t devices = mgr->m_flash_map.size();
    GFPDB_FLASH* second = new_device(*mgr, "DEV1");
    second->set_parameter_value(GFPDB_FLASH_PARAM_TOTAL_DIE, 4u);
    MESSAGE_RECORDER recorder;
    ASSERT_TRUE(mgr->update_db(second, custom_dir()));
    EXPECT_LT(line_index(recorder, "Entering GFPDB_MGR::delete_db with device_name = DEV1"),
              line_index(recorder, "Writing new XML file, " + device_file("DEV1")));
    EXPECT_EQ(mgr->get_flash("DEV1", true), second);
    EXPECT_EQ(mgr->m_flash_map.size(), devices);
    EXPECT_EQ(listing(custom_dir()), std::vector<std::string>{"pgm_flash_DEV1.xml"});
    EXPECT_EQ(
        load()->get_flash("DEV1", true)->get_parameter_value_in_dword(GFPDB_FLASH_PARAM_TOTAL_DIE),
        4u);
}

TEST_F(QspiPersistence, SavingIntoTheCustomFolderLeavesTheHostCopy) {
    write_host_file("pgm_flash_DEV1.xml", device_xml("DEV1"));
    const std::string host_file = device_file("DEV1", host_dir());
    const std::string host_text = read_file(host_file);
    auto mgr = load();
    GFPDB_FLASH* flash = new_device(*mgr, "DEV1");
    MESSAGE_RECORDER recorder;
    // The host record that the new one displaces is freed (the leak checker watches).
    ASSERT_TRUE(mgr->update_db(flash, custom_dir()));
    EXPECT_FALSE(has_line(recorder, "Entering GFPDB_MGR::delete_db with device_name = DEV1"));
    EXPECT_EQ(read_file(host_file), host_text);
    EXPECT_EQ(mgr->m_flash_db_zorvane_dir_map.at("DEV1"), host_file);
    EXPECT_EQ(mgr->m_flash_db_custom_dir_map.at("DEV1"), device_file("DEV1"));
    EXPECT_EQ(mgr->m_flash_db_active_dir_map.at("DEV1"), device_file("DEV1"));
    EXPECT_EQ(mgr->m_flash_map.at("DEV1"), flash);
    // The saved record already tells what the next load will: its folder, and that the user
    // may remove it.
    EXPECT_EQ(flash->get_db_dir(), custom_dir());
    EXPECT_TRUE(flash->get_flash_removable_permission());
    EXPECT_EQ(load()->get_flash("DEV1", true)->get_db_dir(), custom_dir());
}

TEST_F(QspiPersistence, DeletingOneRecordOfASharedFileRewritesItWithTheOthers) {
    const std::string file = custom_dir() + "pgm_flash_pair.xml";
    write_custom_file("pgm_flash_pair.xml",
                      device_xml("P1") + device_xml("P2") + template_xml("T1"));
    auto mgr = load();
    MESSAGE_RECORDER recorder;
    EXPECT_TRUE(mgr->delete_db("P1", custom_dir()));
    EXPECT_TRUE(has_line(recorder, "Found flash name = P2"));
    EXPECT_TRUE(has_line(recorder, "Found template name = T1"));
    EXPECT_TRUE(has_line(recorder, "Deleting XML file " + file));
    EXPECT_TRUE(has_line(recorder, "Writing XML file, " + file));
    for (auto* map : {&mgr->m_flash_db_custom_dir_map, &mgr->m_flash_db_active_dir_map})
        EXPECT_EQ(map->count("P1"), 0u);
    EXPECT_EQ(mgr->m_flash_map.count("P1"), 0u);
    EXPECT_EQ(mgr->m_flash_db_custom_dir_map.at("P2"), file);
    const std::string text = read_file(file);
    EXPECT_EQ(text.find("P1"), std::string::npos);
    // Devices first, then the templates.
    EXPECT_LT(text.find("<FLASH>"), text.find("<USER_TEMPLATE>"));
    {
        auto reloaded = load();
        EXPECT_FALSE(reloaded->device_exist_in_db("P1", true));
        EXPECT_TRUE(reloaded->device_exist_in_db("P2", true));
        EXPECT_EQ(reloaded->get_user_template_list(), std::vector<std::string>{"T1"});
    }

    // A template that shares its file with a device leaves the device behind.
    EXPECT_TRUE(mgr->delete_template("T1"));
    EXPECT_TRUE(mgr->get_user_template_list().empty());
    {
        auto reloaded = load();
        EXPECT_TRUE(reloaded->device_exist_in_db("P2", true));
        EXPECT_TRUE(reloaded->get_user_template_list().empty());
    }

    // The last record takes the file with it.
    EXPECT_TRUE(mgr->delete_db("P2", custom_dir()));
    EXPECT_TRUE(listing(custom_dir()).empty());
}

TEST_F(QspiPersistence, DeletingTheOnlyDeviceOfAFileKeepsItsTemplates) {
    const std::string file = custom_dir() + "pgm_flash_mixed.xml";
    write_custom_file("pgm_flash_mixed.xml",
                      template_xml("T1") + device_xml("D1") + template_xml("T2"));
    auto mgr = load();
    EXPECT_TRUE(mgr->delete_db("D1", custom_dir()));
    const std::string text = read_file(file);
    EXPECT_NE(text.find("<QSPI_FLASH version=\"1\">"), std::string::npos);
    EXPECT_EQ(text.find("<FLASH>"), std::string::npos);
    auto reloaded = load();
    EXPECT_FALSE(reloaded->device_exist_in_db("D1", true));
    EXPECT_EQ(reloaded->get_user_template_list(), (std::vector<std::string>{"T1", "T2"}));
    EXPECT_EQ(reloaded->m_template_db_dir_map.at("T2"), file);
}

TEST_F(QspiPersistence, DeletingWhatTheFolderDoesNotDefineChangesNothing) {
    write_host_file("pgm_flash_DEV1.xml", device_xml("DEV1"));
    auto mgr = load();
    const MAPS before = maps_of(*mgr);
    for (const char* name : {"DEV1", "NOSUCH", "Micron"}) {
        SCOPED_TRACE(name);
        MESSAGE_RECORDER recorder;
        EXPECT_TRUE(mgr->delete_db(name, custom_dir()));
        EXPECT_TRUE(recorder.posted.empty());
        EXPECT_TRUE(maps_of(*mgr) == before);
    }
    EXPECT_TRUE(fs::exists(device_file("DEV1", host_dir())));
    EXPECT_TRUE(mgr->delete_db("NOSUCH", host_dir()));
    EXPECT_TRUE(maps_of(*mgr) == before);
}

TEST_F(QspiPersistence, DeletingInTheHostFolderWhatTheCustomFolderDefinesStopsTheProgram) {
    write_host_file("pgm_flash_DEV1.xml", device_xml("DEV1"));
    write_custom_file("pgm_flash_DEV1.xml", device_xml("DEV1"));
    auto mgr = load();
    EXPECT_DEATH(mgr->delete_db("DEV1", host_dir()),
                 literal("Found same flash exist in the current directory but attempting to delete "
                         "the flash in zorvane directory."));
    // Saving into the host folder deletes there first, so it stops the same way.
    EXPECT_DEATH(mgr->update_db(new_device(*mgr, "DEV1"), host_dir()),
                 literal("attempting to delete the flash in zorvane directory."));
}

// ---------------------------------------------------------------------------------------------
// Refusals

TEST_F(QspiPersistence, FirstSaveLeavesItsTrailInTheDebugLog) {
    auto mgr = load();
    GFPDB_FLASH* flash = new_device(*mgr, "NEW1");
    const std::string file = device_file("NEW1");
    MESSAGE_RECORDER recorder;
    ASSERT_TRUE(mgr->update_db(flash, custom_dir()));
    const std::vector<std::string> expected = {
        "Entering GFPDB_MGR::update_db with flash device_name = NEW1",
        "db_dir.c_str() = " + custom_dir(),
        "zorvane_dir.full_directory().c_str() = " + host_dir(),
        "custom_dir.full_directory().c_str() = " + custom_dir(),
        "Touch new XML file, " + file,
        "Deleting old XML file " + file,
        "Writing new XML file, " + file,
        "Before: db_dir_map->size() = 0",
        "Before: m_flash_db_active_dir_map.size() = 14",
        "Before: m_flash_map.size() = 14",
        "After: db_dir_map->size() = 1",
        "After: m_flash_db_active_dir_map.size() = 15",
        "After: m_flash_map.size() = 15",
    };
    EXPECT_EQ(recorder.debug, expected);
}

TEST_F(QspiPersistence, FolderInAFilesPlaceRefusesTheSave) {
    // A folder in a file's place is not replaced, not even by the superuser.
    write_file(custom_dir() + "pgm_flash_template_Flow_x.xml/keep", "");
    auto mgr = load();
    // The template's file is asked about first: the device is not written either.
    GFPDB_FLASH* flash = new_device(*mgr, "DEV1");
    flash->set_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME, std::string("Flow_x"));
    const MAPS before = maps_of(*mgr);
    MESSAGE_RECORDER recorder;
    EXPECT_FALSE(mgr->update_db(flash, custom_dir()));
    EXPECT_EQ(recorder.ids(), std::vector<unsigned>{20560});
    EXPECT_TRUE(maps_of(*mgr) == before);
    EXPECT_FALSE(fs::exists(device_file("DEV1")));
    discard(*mgr, flash);
}

TEST_F(QspiPersistence, MisusesStopTheProgram) {
    write_custom_file("pgm_flash_t.xml", template_xml("Alpha"));
    auto mgr = load();
    TEMP_DIR elsewhere;
    EXPECT_DEATH(mgr->update_db(new_device(*mgr, "DEV1"), elsewhere.path()),
                 literal("db_is_zorvane_dir || db_is_custom_dir"));
    // A condition written over several source lines reads as written on one.
    EXPECT_DEATH(
        {
            GFPDB_FLASH* flash = new_device(*mgr, "DEV1");
            flash->set_parameter_value(GFPDB_FLASH_PARAM_TOTAL_DIE, 0u);
            mgr->update_db(flash, custom_dir());
        },
        literal("total_device_die_is_valid(flash->get_parameter_value_in_dword("
                "GFPDB_FLASH_PARAM_TOTAL_DIE), &err_msg)"));
    // A template is written only under a name that no template, vendor or device has.
    for (const char* name : {"Alpha", "Micron", "GF25M064L"}) {
        SCOPED_TRACE(name);
        EXPECT_DEATH(
            {
                GFPDB_FLASH* flash = new_device(*mgr, "DEV1");
                flash->set_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME, std::string(name));
                mgr->update_template_db(flash, custom_dir());
            },
            literal("template_name_is_valid(flash->get_parameter_value(GFPDB_FLASH_PARAM_"
                    "TEMPLATE_NAME))"));
    }
}

}  // namespace
