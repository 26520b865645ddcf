// Saves that must lose nothing: values a file could not give back are refused before any file
// is touched; a file operation that fails, a record the manager did not load, a name whose
// file is another record's and a folder another program is saving in all leave every file
// whole; a killed save's leftover goes at the next load.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pgm/gfpdb/gfpdb_qspi_flash.h"
#include "support/qspi_fixture.h"

namespace {

using namespace gfpdb_test;

class HostileSaves : public QSPI_DB_TEST {
protected:
    // What a new manager loads of the device equals what was saved.
    void expect_loads_back(const std::string& name, GFPDB_FLASH* saved) {
        auto reloaded = load();
        expect_same_device(saved, reloaded->get_flash(name, true));
    }
};

// ---------------------------------------------------------------------------------------------
// Values a file cannot give back

TEST_F(HostileSaves, ValueAFileCannotGiveBackIsRefusedBeforeAnythingIsTouched) {
    const int NAME = -1, TEMPLATE = -2;  // instead of an action type: the record's own text
    struct CASE {
        const char* what;
        int type;
        GFPDB_ACT_PROPERTY property;
        const char* value;
        unsigned warning;
        const char* reason;
    };
    const auto DESCRIPTION = GFPDB_ACT_PROPERTY_CUSTOM_DESCRIPTION;
    const auto NONE = static_cast<GFPDB_ACT_PROPERTY>(GFPDB_ACT_PROPERTY_COUNT);
    const char* const not_text = "(not text a database file can hold)";
    const CASE cases[] = {
        {"control character", GFPDB_ACT_TYPE_CUSTOM, DESCRIPTION, "Erase\x01 data", 20509,
         not_text},
        {"no UTF-8 in data naming the .jic file", GFPDB_ACT_TYPE_WRITE_DATA,
         GFPDB_ACT_PROPERTY_WRITE_DATA_DATA, "from .jic \xFF\xFE", 20496, not_text},
        {"backslash before n", GFPDB_ACT_TYPE_CUSTOM, DESCRIPTION, "See C:\\new", 20509,
         "(a backslash before n reads back as a line break)"},
        {"template with a control character", TEMPLATE, NONE, "Mi\x02", 20481, not_text},
        {"33 bits", GFPDB_ACT_TYPE_WRITE_REGISTER, GFPDB_ACT_PROPERTY_WRITE_REG_DELAY, "4294967296",
         20500, "4294967296"},
        {"33 bits in hexadecimal", GFPDB_ACT_TYPE_ERASE, GFPDB_ACT_PROPERTY_ERASE_DELAY,
         "0x100000000", 20500, "(more than 32 bits)"},
        {"description too short to read back", GFPDB_ACT_TYPE_CUSTOM, DESCRIPTION, "x", 20509,
         "'x"},
        // The name becomes part of the file's name: a separator or no name at all is refused.
        {"separator in the name", NAME, NONE, "sub/dev", 20473, "special characters"},
        {"backslash in the name", NAME, NONE, "a\\b", 20473, "special characters"},
        {"no name", NAME, NONE, "", 20473, "special characters"},
    };
    auto mgr = load();
    GFPDB_FLASH* saved = new_device(*mgr, "DEV1");
    GFPDB_QSPI_FLASH before_save(*static_cast<GFPDB_QSPI_FLASH*>(saved));
    ASSERT_TRUE(mgr->update_db(saved, custom_dir()));
    const std::string text = read_file(device_file("DEV1"));
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.what);
        GFPDB_FLASH* flash = new_device(*mgr, "DEV1");
        flash->set_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME, std::string("Flow_x"));
        if (c.type == NAME)
            flash->set_name(c.value);
        else if (c.type == TEMPLATE)
            flash->set_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, std::string(c.value));
        else
            first_action(flash, GFPDB_PROG_FLOW_TYPE_SFL, static_cast<GFPDB_ACT_TYPE>(c.type))
                ->set_property_value(c.property, c.value);
        const MAPS before = maps_of(*mgr);
        MESSAGE_RECORDER recorder;
        EXPECT_FALSE(mgr->update_db(flash, custom_dir()));
        ASSERT_EQ(recorder.ids(), std::vector<unsigned>{c.warning});
        EXPECT_NE(recorder.posted[0].text.find(c.reason), std::string::npos);
        EXPECT_TRUE(std::none_of(
            recorder.debug.begin(), recorder.debug.end(),
            [](const std::string& line) { return line.find("delete_db") != std::string::npos; }));
        EXPECT_TRUE(maps_of(*mgr) == before);
        EXPECT_EQ(read_file(device_file("DEV1")), text);
        EXPECT_EQ(listing(custom_dir()), std::vector<std::string>{"pgm_flash_DEV1.xml"});
        if (c.warning != 20473) {  // the template of the record is refused the same way
            recorder.clear();
            EXPECT_FALSE(mgr->update_template_db(flash, custom_dir()));
            EXPECT_EQ(recorder.ids(), std::vector<unsigned>{c.warning});
            EXPECT_TRUE(mgr->get_user_template_list().empty());
        }
        discard(*mgr, flash);
    }
    expect_loads_back("DEV1", &before_save);
}

// ---------------------------------------------------------------------------------------------
// File operations that fail

// The folder as a user leaves it: file names, contents and modes.
std::map<std::string, std::pair<std::string, unsigned>> folder_state(const std::string& dir) {
    std::map<std::string, std::pair<std::string, unsigned>> state;
    for (const std::string& name : listing(dir)) {
        struct stat st {};
        stat((dir + name).c_str(), &st);
        state[name] = {read_file(dir + name), st.st_mode & 07777};
    }
    return state;
}

enum class OP { SAVE_NEW, SAVE_OVER, DELETE_ALONE, DELETE_SHARED, DELETE_TEMPLATE };

// Each operation against a folder holding DEV1 alone and P1, P2 and template T1 together,
// with one file operation failing: a refusal leaves folder and maps as they were, and says
// why; a step the operation does not take changes nothing of its success.
TEST_F(HostileSaves, FailedFileOperationRefusesAndLeavesEveryFileAsItWas) {
    struct CASE {
        OP op;
        FIO_STEP step;
        unsigned nth;
        int error;
        bool refused;
    };
    const CASE cases[] = {
        {OP::SAVE_NEW, FIO_STEP_CREATE, 1, ENOSPC, true},
        {OP::SAVE_NEW, FIO_STEP_CREATE, 1, ENAMETOOLONG, true},
        {OP::SAVE_NEW, FIO_STEP_WRITE, 1, ENOSPC, true},
        {OP::SAVE_NEW, FIO_STEP_FSYNC, 1, EIO, true},
        {OP::SAVE_NEW, FIO_STEP_RENAME, 1, EROFS, true},
        {OP::SAVE_NEW, FIO_STEP_REMOVE, 1, EROFS, false},
        {OP::SAVE_OVER, FIO_STEP_WRITE, 1, EDQUOT, true},
        {OP::SAVE_OVER, FIO_STEP_CHMOD, 1, EPERM, true},
        {OP::SAVE_OVER, FIO_STEP_RENAME, 1, EACCES, true},
        {OP::DELETE_ALONE, FIO_STEP_REMOVE, 1, EROFS, true},
        {OP::DELETE_ALONE, FIO_STEP_CHMOD, 1, EPERM, false},  // the mode is left alone
        {OP::DELETE_SHARED, FIO_STEP_WRITE, 1, ENOSPC, true},
        {OP::DELETE_SHARED, FIO_STEP_RENAME, 1, EROFS, true},
        {OP::DELETE_TEMPLATE, FIO_STEP_FSYNC, 1, EIO, true},
        {OP::SAVE_OVER, FIO_STEP_WRITE, 2, ENOSPC, false},  // only one file is written
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << static_cast<int>(c.op) << " step " << c.step << " errno " << c.error);
        fs::remove_all(custom_dir());
        write_custom_file("pgm_flash_DEV1.xml", device_xml("DEV1"));
        write_custom_file("pgm_flash_pair.xml",
                          device_xml("P1") + device_xml("P2") + template_xml("T1"));
        fs::permissions(device_file("DEV1"), fs::perms(0644));
        auto mgr = load();
        const MAPS maps = maps_of(*mgr);
        const auto files = folder_state(custom_dir());
        FIO_FILE_SYSTEM::clear_last_failure();
        FIO_FILE_SYSTEM::fail_nth(c.step, c.nth, c.error);
        MESSAGE_RECORDER recorder;
        bool ok = false;
        switch (c.op) {
            case OP::SAVE_NEW:
            case OP::SAVE_OVER: {
                GFPDB_FLASH* flash = new_device(*mgr, c.op == OP::SAVE_NEW ? "NEW1" : "DEV1");
                ok = mgr->update_db(flash, custom_dir());
                if (!ok)
                    discard(*mgr, flash);
                break;
            }
            case OP::DELETE_ALONE:
                ok = mgr->delete_db("DEV1", custom_dir());
                break;
            case OP::DELETE_SHARED:
                ok = mgr->delete_db("P1", custom_dir());
                break;
            case OP::DELETE_TEMPLATE:
                ok = mgr->delete_template("T1");
                break;
        }
        FIO_FILE_SYSTEM::clear_failures();
        EXPECT_EQ(ok, !c.refused);
        if (c.refused) {
            EXPECT_EQ(recorder.ids(), std::vector<unsigned>{20560});
            EXPECT_TRUE(maps_of(*mgr) == maps);
            EXPECT_EQ(folder_state(custom_dir()), files);
            EXPECT_EQ(FIO_FILE_SYSTEM::last_failure().error, c.error);
            EXPECT_EQ(FIO_FILE_SYSTEM::last_failure().path.rfind(custom_dir(), 0), 0u);
        } else {
            EXPECT_TRUE(recorder.posted.empty());
            if (c.op == OP::SAVE_OVER) {
                EXPECT_EQ(folder_state(custom_dir())["pgm_flash_DEV1.xml"].second, 0644u);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Records the manager did not load

// A save or delete never drops a record of the file that the maps lack: it refuses, naming
// the file and the record, unless the host has told the user and chosen to go on.
TEST_F(HostileSaves, RecordTheMapsLackIsNeverOverwritten) {
    auto bad = [](const char* name) {
        DEVICE_XML d(name);
        d.voltage = "9V";
        return device_xml(d);
    };
    const std::string none = "none", gone = "";
    // The device's file pgm_flash_<name>.xml before the load and after it (none: no file, or
    // unchanged after the load; gone: removed), whether the device is deleted rather than
    // saved, and what the refusal says of the file.
    struct CASE {
        const char* name;
        std::string before, after;
        bool deletes;
        const char* reason;
    };
    const CASE cases[] = {
        {"MA", device_xml("MA") + bad("MBAD"), none, true, "holds MBAD, which was not loaded"},
        {"NEW1", bad("NEW1"), none, false, "holds NEW1, which was not loaded"},
        {"NEW1", "<FLASH><NOTHING/></FLASH>\n", none, false, "holds records that did not load"},
        {"NEW1", none, device_xml("NEW1"), false, "holds NEW1, which was not loaded"},
        {"DEV1", device_xml("DEV1"), device_xml("DEV1") + template_xml("T9"), true,
         "holds T9, which was not loaded"},
        {"DEV1", device_xml("DEV1"), gone, true, "is gone since it was loaded"},
    };
    for (bool force : {false, true}) {
        for (const CASE& c : cases) {
            SCOPED_TRACE(std::string(c.reason) + (force ? ", forced" : ""));
            const std::string file = "pgm_flash_" + std::string(c.name) + ".xml";
            fs::remove_all(custom_dir());
            fs::create_directories(custom_dir());
            if (c.before != none)
                write_custom_file(file, c.before);
            auto mgr = load();
            if (c.after == gone)
                fs::remove(custom_dir() + file);
            else if (c.after != none)
                write_custom_file(file, c.after);
            const auto files = folder_state(custom_dir());
            const MAPS maps = maps_of(*mgr);
            cfg_set_value("pgm_gfpdb_overwrite_unloaded", force);
            MESSAGE_RECORDER recorder;
            GFPDB_FLASH* flash = c.deletes ? nullptr : new_device(*mgr, c.name);
            const bool ok = c.deletes ? mgr->delete_db(c.name, custom_dir())
                                      : mgr->update_db(flash, custom_dir());
            EXPECT_EQ(ok, force);
            if (force)
                continue;
            ASSERT_EQ(recorder.ids(), std::vector<unsigned>{20560});
            EXPECT_EQ(recorder.posted[0].text, "Failed to update the device database in the " +
                                                   custom_dir() + " (" + file + " " + c.reason +
                                                   ") directory.");
            EXPECT_TRUE(maps_of(*mgr) == maps);
            EXPECT_EQ(folder_state(custom_dir()), files);
            if (flash)
                discard(*mgr, flash);
        }
    }
}

// A loaded record that shares the file of the device saved stays in it.
TEST_F(HostileSaves, LoadedRecordSharingTheFileOfASavedDeviceStays) {
    write_custom_file("pgm_flash_FOO.xml", device_xml("OTHER") + template_xml("T1"));
    auto mgr = load();
    ASSERT_TRUE(mgr->update_db(new_device(*mgr, "FOO"), custom_dir()));
    auto reloaded = load();
    for (const char* name : {"FOO", "OTHER"})
        EXPECT_TRUE(reloaded->device_exist_in_db(name, true)) << name;
    EXPECT_EQ(reloaded->get_user_template_list(), std::vector<std::string>{"T1"});
}

// ---------------------------------------------------------------------------------------------
// Names whose files collide

TEST_F(HostileSaves, NameWhoseFileIsAnotherRecordsIsRefused) {
    write_custom_file("pgm_flash_template_Flow_x.xml", device_xml("template_Flow_x"));
    write_custom_file("pgm_flash_DEV1.xml", device_xml("DEV1"));
    auto mgr = load();
    // Another spelling of DEV1's file, as a file system that ignores case sees it.
    fs::create_symlink("pgm_flash_DEV1.xml", custom_dir() + "pgm_flash_dev1.xml");
    struct CASE {
        GFPDB_FLASH_PARAM param;
        const char* name;
        unsigned warning;
    };
    const CASE cases[] = {
        {GFPDB_FLASH_PARAM_NAME, "template_Flow_y", 20474},
        {GFPDB_FLASH_PARAM_NAME, "TEMPLATE_Flow_y", 20474},
        {GFPDB_FLASH_PARAM_NAME, "dev1", 20475},
        {GFPDB_FLASH_PARAM_NAME, "dev2", 0},
        {GFPDB_FLASH_PARAM_TEMPLATE_NAME, "Flow_x", 20675},
        {GFPDB_FLASH_PARAM_TEMPLATE_NAME, "Flow_y", 0},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        MESSAGE_RECORDER recorder;
        std::string error;
        EXPECT_EQ(mgr->is_parameter_valid(c.param, c.name, &error), c.warning == 0);
        EXPECT_EQ(recorder.ids(),
                  c.warning ? std::vector<unsigned>{c.warning} : std::vector<unsigned>{});
        if (c.warning) {
            EXPECT_NE(error.find("file"), std::string::npos) << error;
        }
    }
    // Saving refuses what validation would.
    GFPDB_FLASH* flash = new_device(*mgr, "template_Flow_y");
    MESSAGE_RECORDER recorder;
    EXPECT_FALSE(mgr->update_db(flash, custom_dir()));
    EXPECT_EQ(recorder.ids(), std::vector<unsigned>{20474});
    discard(*mgr, flash);
}

// ---------------------------------------------------------------------------------------------
// Killed saves and other writers

// Runs `work` in a child process that posts and logs nothing; answers its pid.
template <typename WORK>
pid_t spawn(WORK work) {
    std::fflush(nullptr);  // the child must not write the parent's pending output again
    const pid_t child = fork();
    if (child == 0) {
        msg_set_debug_listener([](const std::string&, int, const std::string&) {});
        msg_set_post_listener([](unsigned, MSG_POST_TYPE, const std::string&) {});
        _exit(work());
    }
    return child;
}

// A leftover of a killed save is removed at the next load, with a warning naming it.
TEST_F(HostileSaves, LeftoverOfAKilledSaveIsRemovedAtTheNextLoad) {
    write_file(custom_dir() + ".pgm_flash_DEV1.xml.Ab12Cd", "<QSPI_FL");
    MESSAGE_RECORDER recorder;
    load();
    ASSERT_EQ(recorder.ids(), std::vector<unsigned>{20560});
    EXPECT_NE(recorder.posted[0].text.find(".pgm_flash_DEV1.xml.Ab12Cd, now removed"),
              std::string::npos);
    EXPECT_TRUE(listing(custom_dir()).empty());
}

// The folder lock of a save waits for another process's and gives up after a while.
TEST_F(HostileSaves, FolderHeldByAnotherProcessRefusesTheSaveInTime) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = spawn([&ready] {
        FIO_FOLDER_LOCK lock(custom_dir(), 0);
        char byte = lock.held() ? 1 : 0;
        if (write(ready[1], &byte, 1) != 1)
            return 1;
        sleep(30);
        return 0;
    });
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 1);
    auto mgr = load();
    GFPDB_FLASH* flash = new_device(*mgr, "NEW1");
    MESSAGE_RECORDER recorder;
    EXPECT_FALSE(mgr->update_db(flash, custom_dir()));
    ASSERT_EQ(recorder.ids(), std::vector<unsigned>{20560});
    EXPECT_NE(recorder.posted[0].text.find("(another program is saving in this folder)"),
              std::string::npos);
    discard(*mgr, flash);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_TRUE(listing(custom_dir()).empty());
}

}  // namespace
