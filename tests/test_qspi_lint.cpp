// The flow lint and the fitting of template flows to a device: each rule against one change
// to a bundled template's flows that breaks it and one that keeps it, and every template
// fitted to small and large chips.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "pgm/gfpdb/gfpdb_qspi_adapt.h"
#include "pgm/gfpdb/gfpdb_qspi_flash.h"
#include "pgm/gfpdb/gfpdb_qspi_lint.h"
#include "support/qspi_fixture.h"

namespace gfpdb_test {
namespace {

// A device of a golden template, fitted to its density; the record is the test's.
std::unique_ptr<GFPDB_FLASH> device_of(GFPDB_MGR& mgr, const std::string& vendor,
                                       const std::string& density, const std::string& id,
                                       uint32_t dies = 1, uint32_t dummy = 8) {
    auto flash = std::make_unique<GFPDB_QSPI_FLASH>("GF_LINTED");
    flash->set_density(density);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_ID, id);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, std::string("3.0V/3.3V"));
    flash->set_parameter_value(GFPDB_FLASH_PARAM_TOTAL_DIE, dies);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, dummy);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 6u);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, vendor);
    flash->set_flash_removable_permission(true);
    int golden = 0;
    while (gfpdb_prog_flow_template_name[golden] != vendor)
        ++golden;
    for (GFPDB_PROG_FLOW_TYPE flow : {GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_PROG_FLOW_TYPE_SDM}) {
        std::vector<GFPDB_OPERATION*> copies;
        for (GFPDB_OPERATION* op : *mgr.get_prog_flow_template_operation_list(
                 static_cast<GFPDB_PROG_FLOW_TEMPLATE>(golden), flow))
            copies.push_back(new GFPDB_QSPI_OPERATION(*static_cast<GFPDB_QSPI_OPERATION*>(op)));
        flash->set_operation_list(copies, flow);
    }
    gfpdb_qspi_adapt_flash(flash.get());
    return flash;
}

GFPDB_OPERATION* sfl_operation(GFPDB_FLASH* flash, GFPDB_OP_TYPE type) {
    return (*flash->get_operation_list(GFPDB_PROG_FLOW_TYPE_SFL))[type];
}

// One change to the SFL flow: a property of an action, or the action removed (no property).
struct CHANGE {
    GFPDB_OP_TYPE op;
    size_t action;
    int property;  // -1: remove the action
    const char* value;
};
void apply(GFPDB_FLASH* flash, const CHANGE& change) {
    GFPDB_OPERATION* op = sfl_operation(flash, change.op);
    std::vector<GFPDB_ACTION*> actions = *op->get_action_list();
    ASSERT_LT(change.action, actions.size());
    if (change.property >= 0) {
        actions[change.action]->set_property_value(static_cast<GFPDB_ACT_PROPERTY>(change.property),
                                                   change.value);
        return;
    }
    // Keep copies of the others: clearing the list deletes every action.
    std::vector<GFPDB_ACTION*> kept;
    for (size_t i = 0; i < actions.size(); ++i)
        if (i != change.action)
            kept.push_back(new GFPDB_QSPI_ACTION(*static_cast<GFPDB_QSPI_ACTION*>(actions[i])));
    op->clear_action_list();
    for (GFPDB_ACTION* action : kept)
        op->add_action_into_list(action);
}

constexpr int REMOVE = -1;
constexpr int CLEAN = -1;  // the rule finds nothing
const CHANGE none = {GFPDB_OP_TYPE_INITIALIZATION, 0, GFPDB_ACT_PROPERTY_WRITE_REG_NAME,
                     "Reset enable"};

// The golden layouts these rows rely on, SFL above 128 Mbit. Winbond: Initialization 66, 99,
// 50, 31, 35 (quad check), B7, 15; Program 06, 02, 05; Erase start, then 06/erase/05 for 4, 32
// and 64 KB, end; Verify 0B; Termination E9, 04. Micron: Initialization 66, 99, 70, 06, 81,
// 85, 06, B7, 70; Program 06, 02, 70, 70.
struct CASE {
    const char* rule;
    const char* vendor;
    const char* density;
    const char* id;
    CHANGE change;
    int severity;  // of the first finding of the rule, or CLEAN
    uint32_t dies = 1, dummy = 8;
};
const char* const W256 = "0xEF 0x40 0x19";
const char* const W128 = "0xEF 0x40 0x18";
const char* const M256 = "0x20 0xBA 0x19";
const char* const M512 = "0x20 0xBA 0x20";
using P = GFPDB_ACT_PROPERTY;
const auto INIT = GFPDB_OP_TYPE_INITIALIZATION;
const auto PROG = GFPDB_OP_TYPE_PROGRAM;
const auto ERASE = GFPDB_OP_TYPE_ERASE;
const auto VERIFY = GFPDB_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE;
const auto TERM = GFPDB_OP_TYPE_TERMINATION;
const int E = GFPDB_LINT_SEVERITY_ERROR, W = GFPDB_LINT_SEVERITY_WARNING;

const CASE cases[] = {
    {"write-enable", "Winbond", "256Mb", W256, {PROG, 0, REMOVE, ""}, E},
    {"write-enable", "Micron", "256Mb", M256, {INIT, 6, REMOVE, ""}, E},  // before B7
    {"write-enable", "Winbond", "256Mb", W256, {INIT, 2, P(1), "0x06"}, CLEAN},
    {"busy-poll", "Winbond", "256Mb", W256, {PROG, 2, P(8), "0x01"}, E},  // waits for busy
    {"busy-poll", "Winbond", "256Mb", W256, {PROG, 2, P(10), "1"}, E},
    {"busy-poll", "Winbond", "256Mb", W256, {PROG, 2, P(6), "0x70"}, E},  // no flag status
    {"busy-poll", "Winbond", "256Mb", W256, {PROG, 2, REMOVE, ""}, E},
    {"busy-poll", "Winbond", "256Mb", W256, {PROG, 2, P(9), "0x03"}, CLEAN},
    {"busy-poll", "Winbond", "256Mb", W256, {INIT, 2, P(1), "0x06"}, E},  // 0x31 non-volatile
    {"poll-budget", "Winbond", "256Mb", W256, {ERASE, 9, P(10), "100"}, W},
    {"poll-budget", "Winbond", "256Mb", W256, {ERASE, 9, P(10), "20000"}, CLEAN},
    {"address-mode", "Winbond", "256Mb", W256, {INIT, 5, REMOVE, ""}, E},
    {"address-mode", "Winbond", "128Mb", W128, {PROG, 1, P(18), "4"}, E},
    {"address-mode", "Winbond", "256Mb", W256, {PROG, 1, P(18), "3"}, E},
    {"address-mode", "Winbond", "256Mb", W256, {TERM, 0, REMOVE, ""}, W},
    {"address-mode", "Winbond", "256Mb", W256, {VERIFY, 0, P(22), "0x0C"}, CLEAN},
    {"erase-size", "Winbond", "256Mb", W256, {ERASE, 2, P(34), "3000"}, E},
    {"erase-size", "Winbond", "256Mb", W256, {ERASE, 5, P(34), "4096"}, E},  // twice
    {"erase-size", "Winbond", "256Mb", W256, {ERASE, 8, P(34), "262144"}, W},
    {"erase-size", "Winbond", "256Mb", W256, {ERASE, 8, P(32), "0xDC"}, CLEAN},
    {"read-dummy", "Winbond", "256Mb", W256, {VERIFY, 0, P(28), "10"}, E},
    {"read-dummy", "Winbond", "256Mb", W256, {VERIFY, 0, P(22), "0x6B"}, E},
    {"read-dummy", "Winbond", "256Mb", W256, {VERIFY, 0, P(22), "0x03"}, E},
    {"read-dummy", "Winbond", "256Mb", W256, none, W, 1, 10},     // the device says 10
    {"read-dummy", "Micron", "256Mb", M256, none, CLEAN, 1, 10},  // configured to 10
    {"quad-enable", "Winbond", "256Mb", W256, {INIT, 4, REMOVE, ""}, W},
    {"quad-enable", "Micron", "256Mb", M256, {INIT, 4, REMOVE, ""}, CLEAN},  // no QE bit
    {"reset-sequence", "Winbond", "256Mb", W256, {INIT, 0, REMOVE, ""}, E},
    {"reset-sequence", "Winbond", "256Mb", W256, {INIT, 1, P(3), "0"}, E},
    {"reset-sequence", "Micron", "256Mb", M256, {INIT, 1, P(3), "0"}, CLEAN},  // then polled
    {"poll-mask", "Winbond", "256Mb", W256, {INIT, 4, P(8), "0x03"}, W},
    {"poll-mask", "Winbond", "256Mb", W256, {INIT, 4, P(9), "0x03"}, CLEAN},
    {"id-vendor", "Winbond", "256Mb", "0xC2 0x20 0x19", none, W},
    {"id-vendor", "Cypress", "256Mb", "0x34 0x2B 0x19", none, CLEAN},
    {"id-capacity", "Winbond", "256Mb", "0xEF 0x40 0x18", none, W},
    {"id-capacity", "Micron", "512Mb", M512, none, CLEAN},
    {"id-capacity", "Macronix", "256Mb", "0xC2 0x25 0x39", none, CLEAN},
    {"id-capacity", "Cypress", "256Mb", "0x01 0x02 0x20", none, W},  // a 512 Mbit part
    {"die-count", "Micron", "512Mb", M512, none, W, 3},
    {"die-count", "Micron", "512Mb", M512, none, W, 4},  // 16 MB dies
    {"die-count", "Micron", "512Mb", M512, none, CLEAN, 2},
    {"id-shadow", "Winbond", "512Mb", W256, none, W},  // the golden GF25W256L's ID
    {"id-shadow", "Winbond", "256Mb", W256, none, CLEAN},
};

class QspiLint : public QSPI_DB_TEST {};

TEST_F(QspiLint, EachRuleAgainstOneChangeToABundledTemplate) {
    auto mgr = load();
    std::vector<GFPDB_FLASH*> golden;
    for (const std::string& name :
         mgr->get_new_config_device_list(DEV_FAMILY_QSPI_DEFAULT, PGMIO_CONFIG_SCHEME_NONE, true))
        golden.push_back(mgr->get_flash(name, true));
    for (const CASE& c : cases) {
        SCOPED_TRACE(std::string(c.rule) + " " + c.vendor + " " + c.density + " action " +
                     std::to_string(c.change.action));
        auto flash = device_of(*mgr, c.vendor, c.density, c.id, c.dies, c.dummy);
        apply(flash.get(), c.change);
        int severity = CLEAN;
        for (const GFPDB_LINT_FINDING& f : GFPDB_QSPI_LINT().lint_flash(flash.get(), golden))
            if (f.rule == c.rule && severity == CLEAN)
                severity = f.severity;
        EXPECT_EQ(severity, c.severity);
        // A disabled rule says nothing.
        for (const GFPDB_LINT_FINDING& f :
             GFPDB_QSPI_LINT({c.rule}).lint_flash(flash.get(), golden))
            EXPECT_NE(f.rule, c.rule);
    }
}

TEST_F(QspiLint, FindingsPointAtTheAction) {
    auto mgr = load();
    auto flash = device_of(*mgr, "Winbond", "256Mb", W256);
    apply(flash.get(), {PROG, 0, REMOVE, ""});
    const std::vector<GFPDB_LINT_FINDING> findings = GFPDB_QSPI_LINT().lint_flash(flash.get());
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].device, "GF_LINTED");
    EXPECT_EQ(findings[0].flow, GFPDB_PROG_FLOW_TYPE_SFL);
    EXPECT_EQ(findings[0].operation, GFPDB_OP_TYPE_PROGRAM);
    EXPECT_EQ(findings[0].action, 0);
    EXPECT_EQ(findings[0].message,
              "'Page program' (0x02) is not preceded by a write enable (0x06) in its operation; "
              "the chip ignores it");
}

// Every template fitted to a chip it fits is clean; at or below 128 Mbit nothing is 4-byte.
TEST_F(QspiLint, TemplatesFittedToSmallAndLargeChipsAreClean) {
    auto mgr = load();
    const char* const makers[] = {"0x20 0xBA", "0xC2 0x20", "0x01 0x60", "0xEF 0x40"};
    const std::pair<const char*, const char*> sizes[] = {
        {"16Mb", "0x15"}, {"128Mb", "0x18"}, {"256Mb", "0x19"}};
    for (int t = 0; t < GFPDB_PROG_FLOW_TEMPLATE_COUNT; ++t)
        for (const auto& [density, capacity] : sizes) {
            const std::string vendor = gfpdb_prog_flow_template_name[t];
            SCOPED_TRACE(vendor + " " + density);
            auto flash = device_of(*mgr, vendor, density, std::string(makers[t]) + " " + capacity);
            for (const GFPDB_LINT_FINDING& f : GFPDB_QSPI_LINT().lint_flash(flash.get()))
                ADD_FAILURE() << f.rule << ": " << f.message;
            const bool small = flash->get_density_in_bytes_qword() <= (16u << 20);
            for (GFPDB_PROG_FLOW_TYPE flow : {GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_PROG_FLOW_TYPE_SDM})
                for (GFPDB_OPERATION* op : *flash->get_operation_list(flow))
                    for (GFPDB_ACTION* action : *op->get_action_list()) {
                        const std::string name = action->get_property_value(P(0));
                        EXPECT_EQ(small && name.find("4 byte") != std::string::npos, false) << name;
                    }
        }
    // Fitting again changes nothing.
    auto flash = device_of(*mgr, "Micron", "128Mb", "0x20 0xBA 0x18", 1, 10);
    EXPECT_TRUE(gfpdb_qspi_adapt_flash(flash.get()).empty());
}

TEST_F(QspiLint, BundledDatabaseIsClean) {
    auto mgr = load();
    for (const GFPDB_LINT_FINDING& f : GFPDB_QSPI_LINT().lint_database(mgr.get()))
        ADD_FAILURE() << f.device << f.template_name << " " << f.rule << ": " << f.message;
}

TEST(QspiLintRules, IdsAreUniqueAndKnown) {
    std::set<std::string> ids;
    for (const GFPDB_LINT_RULE_INFO& rule : gfpdb_lint_rules()) {
        EXPECT_TRUE(ids.insert(rule.id).second) << rule.id;
        EXPECT_TRUE(gfpdb_lint_rule_exists(rule.id));
    }
    EXPECT_EQ(ids.size(), 13u);
    // The README lists every rule.
    const std::string readme = read_file(source_dir() + "/README.md");
    for (const std::string& id : ids)
        EXPECT_NE(readme.find("| `" + id + "` |"), std::string::npos) << id;
    EXPECT_FALSE(gfpdb_lint_rule_exists("no-such-rule"));
}

}  // namespace
}  // namespace gfpdb_test
