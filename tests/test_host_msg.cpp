// The host's message library: rendering, posting, filtering, registration, internal errors and
// the debug log.
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "support/test_support.h"

namespace {

using gfpdb_test::literal;
using gfpdb_test::MESSAGE_RECORDER;

std::string render_s(const char* text, const char* a, const char* b = nullptr) {
    MSG_W message(nullptr);
    message.fill_args(text, a, b);
    return message.get_text();
}

TEST(HostMsg, CatalogueTextIsRenderedWithItsArguments) {
    struct CASE {
        const char* literal;
        const char* a;
        const char* b;
        const char* expected;
    };
    const CASE cases[] = {
        {"Device name '%1!s!' is invalid./W GFPDB_INVALID_DEVICE_NAME", "X1", nullptr,
         "Device name 'X1' is invalid."},
        // The text itself may hold a "/": only the last one starts the type and symbol.
        {"Device I/O voltage '%1!s!' is invalid./W GFPDB_INVALID_IO_VOLTAGE", "1.8V", nullptr,
         "Device I/O voltage '1.8V' is invalid."},
        {"Found duplicate flash device names '%1!s!' in the %2!s! directory./E GFPDB_DUP", "D",
         "/home/u/db", "Found duplicate flash device names 'D' in the /home/u/db directory."},
        // Arguments follow the placeholder numbers, not their order in the text.
        {"%2!s! before %1!s!/W X", "one", "two", "two before one"},
        {"%1!s! and again %1!s!/W X", "a", nullptr, "a and again a"},
        {"100% sure, %1!s!/W X", "yes", nullptr, "100% sure, yes"},
        {"No arguments/W X", nullptr, nullptr, "No arguments"},
    };
    for (const CASE& c : cases)
        EXPECT_EQ(render_s(c.literal, c.a, c.b), c.expected) << c.literal;
}

TEST(HostMsg, IntegerPlaceholderTakesAnInt) {
    MSG_E message(nullptr);
    message.fill_args("Count %1!d! of %2!s!/E X", -5, "x");
    EXPECT_EQ(message.get_text(), "Count -5 of x");
}

// A listener gets id, type and text; without one the lines go to standard error; a filtered
// warning posts nothing at all.
TEST(HostMsg, PostedMessagesReachTheListenerOrStandardError) {
    MSG_W warning(nullptr);
    warning.fill_args("Device I/O voltage '%1!s!' is invalid./W X", "9V");
    warning.set_id(20476);
    MSG_E error(nullptr);
    error.fill_args("Bad/E X");
    error.set_id(20482);
    MSG_W_NULL filtered;
    filtered.fill_args("Device name '%1!s!' is invalid./W X", "n");
    filtered.set_id(20473);
    {
        MESSAGE_RECORDER recorder;
        for (MSG_POST* message : std::initializer_list<MSG_POST*>{&warning, &filtered, &error})
            message->post();
        ASSERT_EQ(recorder.ids(), (std::vector<unsigned>{20476, 20482}));
        EXPECT_EQ(recorder.posted[0].type, MSG_POST_TYPE_WARNING);
        EXPECT_EQ(recorder.posted[0].text, "Device I/O voltage '9V' is invalid.");
        EXPECT_EQ(recorder.posted[1].type, MSG_POST_TYPE_ERROR);
    }
    testing::internal::CaptureStderr();
    warning.post();
    filtered.post();
    error.post();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning (20476): Device I/O voltage '9V' is invalid.\nError (20482): Bad\n");
}

TEST(HostMsg, DefaultIndexFiltersChosenIds) {
    MSG_INDEX* index = MSG_INDEX::get_default_index();
    ASSERT_EQ(index, MSG_INDEX::get_default_index());
    index->set_filtered(20473, true);
    index->set_filtered(20473, true);
    EXPECT_TRUE(index->is_filtered(20473));
    EXPECT_FALSE(index->is_filtered(20474));
    index->set_filtered(20473, false);
    EXPECT_FALSE(index->is_filtered(20473));
}

TEST(HostMsg, RegistrarHoldsIdsWhileItLives) {
    // Ids far from the library's own, which are registered at load.
    const unsigned ids[] = {900001, 900002};
    const MSG_POST_TYPE types[] = {MSG_POST_TYPE_ERROR, MSG_POST_TYPE_WARNING};
    const size_t before = MSG_ID_REGISTRAR::registered_ids().size();
    {
        MSG_ID_REGISTRAR registrar(ids, types, 2);
        const std::vector<unsigned> all = MSG_ID_REGISTRAR::registered_ids();
        ASSERT_EQ(all.size(), before + 2);
        EXPECT_EQ(all[before], 900001u);
        EXPECT_EQ(all[before + 1], 900002u);
        MSG_POST_TYPE type = MSG_POST_TYPE_ERROR;
        EXPECT_TRUE(MSG_ID_REGISTRAR::is_registered(900002, &type));
        EXPECT_EQ(type, MSG_POST_TYPE_WARNING);
    }
    EXPECT_FALSE(MSG_ID_REGISTRAR::is_registered(900001));
    EXPECT_EQ(MSG_ID_REGISTRAR::registered_ids().size(), before);
}

TEST(HostMsgDeathTest, InternalErrorNamesConditionModuleFileAndLine) {
    EXPECT_DEATH(
        MSG_INTERNAL_ERROR::report("m_flash_map.size() > 0", "GFPDB", "pgm/gfpdb/gfpdb_mgr", 123),
        literal("Internal Error: Sub-system: GFPDB, File: pgm/gfpdb/gfpdb_mgr, Line: 123") + "\n" +
            literal("m_flash_map.size() > 0"));
    EXPECT_DEATH(
        MSG_INTERNAL_ERROR::report_varg("GFPDB", "h/x", 7, "Element \"%s\" has %d", "A", 2),
        literal("File: h/x, Line: 7") + "\n" + literal("Element \"A\" has 2"));
}

void debug(const char* format, ...) {
    va_list args;
    va_start(args, format);
    msg_local_vdebug("GFPDB", MSG_D_LEVEL_2, format, args);
    va_end(args);
}

TEST(HostMsg, DebugLinesAreFormattedForTheListener) {
    std::string module;
    int level = -1;
    std::string line;
    msg_set_debug_listener([&](const std::string& m, int l, const std::string& text) {
        module = m;
        level = l;
        line = text;
    });
    debug("Writing new XML file, %s", "/db/pgm_flash_X.xml");
    msg_set_debug_listener(nullptr);
    EXPECT_EQ(module, "GFPDB");
    EXPECT_EQ(level, 2);
    EXPECT_EQ(line, "Writing new XML file, /db/pgm_flash_X.xml");
}

TEST(HostMsg, DefaultDebugLogNeedsTheEnvironmentVariable) {
    msg_set_debug_listener(nullptr);
    unsetenv("GFPDB_DEBUG");
    testing::internal::CaptureStderr();
    debug("quiet %d", 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    setenv("GFPDB_DEBUG", "1", 1);
    testing::internal::CaptureStderr();
    debug("loud %d", 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Debug: [GFPDB] loud 2\n");
    unsetenv("GFPDB_DEBUG");
}

}  // namespace
