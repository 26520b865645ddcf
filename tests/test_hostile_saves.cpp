// Saves that must lose nothing: values a file could not give back are refused before any file
// is touched, files locked by someone else refuse the save and stay loadable, and a reader
// that loads while another process saves never gets part of a file.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "pgm/gfpdb/gfpdb_qspi_flash.h"
#include "support/qspi_fixture.h"

namespace {

using namespace gfpdb_test;

// Marks a file or folder immutable while it lives: then nobody, not even the superuser, may
// change its mode, remove it or change what it holds, as when an administrator locks it.
class LOCK {
public:
    explicit LOCK(const std::string& path) : m_path(path) { m_locked = set(true); }
    ~LOCK() {
        if (m_locked)
            set(false);
    }
    LOCK(const LOCK&) = delete;
    LOCK& operator=(const LOCK&) = delete;
    bool locked() const { return m_locked; }

private:
    bool set(bool on) {
        const int fd = open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        int flags = 0;
        bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0)
            close(fd);
        return ok;
    }
    std::string m_path;
    bool m_locked = false;
};

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
    struct CASE {
        const char* what;
        void (*change)(GFPDB_FLASH* flash);
        unsigned warning;
        const char* reason;
    };
    const CASE cases[] = {
        {"control character in a description",
         [](GFPDB_FLASH* f) {
             first_action(f, GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_ACT_TYPE_CUSTOM)
                 ->set_property_value(GFPDB_ACT_PROPERTY_CUSTOM_DESCRIPTION, "Erase\x01 data");
         },
         20509, "(not text a database file can hold)"},
        {"bytes that are no UTF-8 in data naming the .jic file",
         [](GFPDB_FLASH* f) {
             first_action(f, GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_ACT_TYPE_WRITE_DATA)
                 ->set_property_value(GFPDB_ACT_PROPERTY_WRITE_DATA_DATA, "from .jic \xFF\xFE");
         },
         20496, "(not text a database file can hold)"},
        {"backslash before n in a description",
         [](GFPDB_FLASH* f) {
             first_action(f, GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_ACT_TYPE_CUSTOM)
                 ->set_property_value(GFPDB_ACT_PROPERTY_CUSTOM_DESCRIPTION, "See C:\\new");
         },
         20509, "(a backslash before n reads back as a line break)"},
        {"template the record follows, with a control character",
         [](GFPDB_FLASH* f) {
             f->set_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, std::string("Mi\x02"));
         },
         20481, "(not text a database file can hold)"},
        {"number beyond 64 bits",
         [](GFPDB_FLASH* f) {
             first_action(f, GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_ACT_TYPE_WRITE_REGISTER)
                 ->set_property_value(GFPDB_ACT_PROPERTY_WRITE_REG_DELAY,
                                      "99999999999999999999999");
         },
         20500, "(more than 32 bits)"},
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
        c.change(flash);
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
        discard(*mgr, flash);
    }
    expect_loads_back("DEV1", &before_save);
}

// The name becomes part of the file's name: one that would leave the folder, or no name at
// all, is refused.
TEST_F(HostileSaves, NameThatWouldLeaveTheFolderIsRefused) {
    // A folder beside the custom folder, reached from inside it through "pgm_flash_/../..".
    TEMP_DIR outside;
    write_file(outside / "victim.xml", "keep me");
    const std::string custom = custom_dir().substr(0, custom_dir().size() - 1);
    const std::string parent = custom.substr(0, custom.rfind('/') + 1);
    ASSERT_EQ(outside.path().compare(0, parent.size(), parent), 0);
    const std::string escape = "/../../" + outside.path().substr(parent.size()) + "victim";
    fs::create_directories(custom_dir() + "pgm_flash_");
    auto mgr = load();
    for (const std::string& name :
         {escape, std::string("a\\b"), std::string("sub/dev"), std::string()}) {
        SCOPED_TRACE(name);
        GFPDB_FLASH* flash = new_device(*mgr, name);
        const MAPS before = maps_of(*mgr);
        MESSAGE_RECORDER recorder;
        EXPECT_FALSE(mgr->update_db(flash, custom_dir()));
        EXPECT_EQ(recorder.ids(), std::vector<unsigned>{20473});
        EXPECT_TRUE(maps_of(*mgr) == before);
        discard(*mgr, flash);
    }
    EXPECT_EQ(read_file(outside / "victim.xml"), "keep me");
    EXPECT_EQ(listing(custom_dir()), std::vector<std::string>{"pgm_flash_"});
}

// The number rule reads a number as a whole: one beyond 64 bits is no number, even where the
// rule's range holds 0, which is what such a text would otherwise convert to.
TEST_F(HostileSaves, NumberBeyond64BitsIsInvalidWhereverZeroWouldPass) {
    const struct {
        GFPDB_ACT_TYPE type;
        GFPDB_ACT_PROPERTY property;
    } cases[] = {
        {GFPDB_ACT_TYPE_WRITE_REGISTER, GFPDB_ACT_PROPERTY_WRITE_REG_DELAY},
        {GFPDB_ACT_TYPE_ERASE, GFPDB_ACT_PROPERTY_ERASE_ADDRESS},
        {GFPDB_ACT_TYPE_WRITE_DATA, GFPDB_ACT_PROPERTY_WRITE_DATA_ADDRESS},
        {GFPDB_ACT_TYPE_READ_DATA, GFPDB_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE},
    };
    auto mgr = load();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.property);
        std::unique_ptr<GFPDB_ACTION> action(mgr->create_action(c.type));
        MESSAGE_RECORDER recorder;
        EXPECT_FALSE(action->property_value_is_valid(c.property, "18446744073709551616"));
        EXPECT_FALSE(action->property_value_is_valid(c.property, "0x10000000000000000"));
        EXPECT_EQ(recorder.posted.size(), 2u);
    }
    std::unique_ptr<GFPDB_ACTION> write(mgr->create_action(GFPDB_ACT_TYPE_WRITE_REGISTER));
    EXPECT_TRUE(
        write->property_value_is_valid(GFPDB_ACT_PROPERTY_WRITE_REG_DELAY, "18446744073709551615"));
}

// ---------------------------------------------------------------------------------------------
// Files locked by someone else

TEST_F(HostileSaves, FileLockedBySomeoneElseRefusesTheSaveAndStaysLoadable) {
    auto mgr = load();
    GFPDB_FLASH* saved = new_device(*mgr, "DEV1");
    GFPDB_QSPI_FLASH before_save(*static_cast<GFPDB_QSPI_FLASH*>(saved));
    ASSERT_TRUE(mgr->update_db(saved, custom_dir()));
    const std::string text = read_file(device_file("DEV1"));
    // A file of a device this manager never loaded, locked by its owner.
    write_file(device_file("NEW1"), "someone else's");
    LOCK lock(device_file("DEV1"));
    LOCK other(device_file("NEW1"));
    if (!lock.locked() || !other.locked())
        GTEST_SKIP() << "files cannot be locked on this file system or for this user";

    expect_saves_refused(*mgr, {"DEV1", "NEW1"}, "DEV1");
    EXPECT_EQ(read_file(device_file("DEV1")), text);
    EXPECT_EQ(read_file(device_file("NEW1")), "someone else's");
    expect_loads_back("DEV1", &before_save);
}

TEST_F(HostileSaves, FolderLockedBySomeoneElseRefusesEverySave) {
    auto mgr = load();
    GFPDB_FLASH* saved = new_device(*mgr, "DEV1");
    GFPDB_QSPI_FLASH before_save(*static_cast<GFPDB_QSPI_FLASH*>(saved));
    ASSERT_TRUE(mgr->update_db(saved, custom_dir()));
    const std::string text = read_file(device_file("DEV1"));
    LOCK lock(custom_dir());
    if (!lock.locked())
        GTEST_SKIP() << "folders cannot be locked on this file system or for this user";
    const MAPS before = maps_of(*mgr);
    for (const char* name : {"DEV1", "NEW1"}) {
        SCOPED_TRACE(name);
        GFPDB_FLASH* flash = new_device(*mgr, name);
        flash->set_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME, std::string("Flow_x"));
        MESSAGE_RECORDER recorder;
        EXPECT_FALSE(mgr->update_db(flash, custom_dir()));
        // A new device's template is tried after its device, and refused the same way.
        const std::vector<unsigned> refusals(name == std::string("NEW1") ? 2 : 1, 20560);
        EXPECT_EQ(recorder.ids(), refusals);
        EXPECT_TRUE(maps_of(*mgr) == before);
        discard(*mgr, flash);
    }
    EXPECT_EQ(listing(custom_dir()), std::vector<std::string>{"pgm_flash_DEV1.xml"});
    EXPECT_EQ(read_file(device_file("DEV1")), text);
    expect_loads_back("DEV1", &before_save);
}

// ---------------------------------------------------------------------------------------------
// Readers during a save

// A device with many actions, so that each save takes a while to write.
GFPDB_FLASH* big_device(GFPDB_MGR& mgr, const std::string& name) {
    GFPDB_FLASH* flash = new_device(mgr, name);
    GFPDB_OPERATION* erase = (*flash->get_operation_list(GFPDB_PROG_FLOW_TYPE_SFL))[2];
    for (int i = 0; i < 400; ++i) {
        erase->add_action_into_list(new_action(mgr, GFPDB_ACT_TYPE_ERASE,
                                               {"Sector erase " + std::to_string(i), "0x20",
                                                "from .jic file", "4096", "3", "0", "1-1"}));
    }
    return flash;
}

// Another process saves the device over and over; each read sees the whole file or none of
// it (no file, or the empty file a save makes first to learn whether the folder takes one),
// and each load has the whole device or none.
TEST_F(HostileSaves, ReaderNeverSeesPartOfAFile) {
    const std::string file = device_file("BIG");
    std::string whole;
    {
        auto mgr = load();
        ASSERT_TRUE(mgr->update_db(big_device(*mgr, "BIG"), custom_dir()));
        whole = read_file(file);
    }
    ASSERT_GT(whole.size(), 50000u);

    std::fflush(nullptr);  // the child must not write the parent's pending output again
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        // The child saves and leaves without running the parent's tests or checks.
        msg_set_debug_listener([](const std::string&, int, const std::string&) {});
        msg_set_post_listener([](unsigned, MSG_POST_TYPE, const std::string&) {});
        auto mgr = load();
        bool ok = true;
        for (int i = 0; i < 20 && ok; ++i)
            ok = mgr->update_db(big_device(*mgr, "BIG"), custom_dir());
        _exit(ok ? 0 : 1);
    }

    int reads = 0, whole_reads = 0;
    int status = 0;
    while (waitpid(writer, &status, WNOHANG) == 0) {
        const std::string seen = read_file(file);
        ++reads;
        if (seen == whole)
            ++whole_reads;
        else
            ASSERT_EQ(seen, "") << "a reader saw " << seen.size() << " of " << whole.size()
                                << " bytes";
        if (reads % 50 == 0) {
            MESSAGE_RECORDER quiet;
            auto mgr = load();
            GFPDB_FLASH* flash = mgr->get_flash("BIG", true);
            if (flash) {
                EXPECT_EQ((*flash->get_operation_list(GFPDB_PROG_FLOW_TYPE_SFL))[2]
                              ->get_action_list()
                              ->size(),
                          403u);
            }
        }
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_GT(whole_reads, 0);
    EXPECT_EQ(read_file(file), whole);
    // The temporary files of the saves are gone, and never matched the loader's pattern.
    EXPECT_EQ(listing(custom_dir()), std::vector<std::string>{"pgm_flash_BIG.xml"});
}

}  // namespace
