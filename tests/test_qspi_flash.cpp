// QSPI flash and operation records: parameters, the ID word, generic names, and the ownership
// of operations and actions through lists, copies and assignment.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pgm/gfpdb/gfpdb_qspi_action.h"
#include "pgm/gfpdb/gfpdb_qspi_flash.h"
#include "pgm/gfpdb/gfpdb_qspi_operation.h"
#include "support/test_support.h"

namespace {

using gfpdb_test::literal;

const GFPDB_PROG_FLOW_TYPE SFL = GFPDB_PROG_FLOW_TYPE_SFL;
const GFPDB_PROG_FLOW_TYPE SDM = GFPDB_PROG_FLOW_TYPE_SDM;

// An operation that writes its tag into a shared log when it is destroyed.
class LOGGED_OPERATION : public GFPDB_QSPI_OPERATION {
public:
    LOGGED_OPERATION(std::string tag, std::vector<std::string>* log)
        : GFPDB_QSPI_OPERATION(GFPDB_OP_TYPE_PROGRAM), m_tag(std::move(tag)), m_log(log) {}
    ~LOGGED_OPERATION() override { m_log->push_back(m_tag); }

private:
    std::string m_tag;
    std::vector<std::string>* m_log;
};

GFPDB_QSPI_ACTION* named_action(GFPDB_ACT_TYPE type, const std::string& name) {
    GFPDB_QSPI_ACTION* action = new GFPDB_QSPI_ACTION(type);
    action->set_name(name);
    return action;
}

std::vector<std::string> action_names(GFPDB_OPERATION* operation) {
    std::vector<std::string> names;
    for (GFPDB_ACTION* action : *operation->get_action_list())
        names.push_back(action->get_name());
    return names;
}

std::unique_ptr<GFPDB_QSPI_FLASH> filled_flash() {
    auto flash = std::make_unique<GFPDB_QSPI_FLASH>("W25Q128");
    flash->set_density("128Mb");
    flash->set_db_dir("/db/");
    flash->set_flash_removable_permission(true);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_ID, std::string("0xEF 0x40 0x18"));
    flash->set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, std::string("3.0V/3.3V"));
    flash->set_parameter_value(GFPDB_FLASH_PARAM_TOTAL_DIE, 2u);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, 8u);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 6u);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME, std::string("Mine"));
    flash->set_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, std::string("Winbond"));
    for (GFPDB_PROG_FLOW_TYPE flow : {SFL, SDM}) {
        auto* operation = new GFPDB_QSPI_OPERATION(GFPDB_OP_TYPE_PROGRAM);
        operation->add_action_into_list(
            named_action(GFPDB_ACT_TYPE_WRITE_DATA, flow == SFL ? "sfl" : "sdm"));
        flash->add_operation_into_list(operation, flow);
    }
    return flash;
}

// ---------------------------------------------------------------------------------------------
// Parameters

// A new flash holds nothing; a filled one gives each parameter from its own field and form.
TEST(QspiFlashParameters, EachParameterHasItsOwnFieldAndForm) {
    GFPDB_QSPI_FLASH empty("F");
    EXPECT_EQ(empty.get_family(), DEV_FAMILY_QSPI_FLASH);
    EXPECT_TRUE(empty.get_operation_list(SFL)->empty() && empty.get_operation_list(SDM)->empty());
    std::unique_ptr<GFPDB_QSPI_FLASH> flash = filled_flash();
    const std::string texts[] = {"", "0xEF 0x40 0x18", "3.0V/3.3V", "", "", "",
                                 "", "Mine",           "Winbond"};
    const uint32_t numbers[] = {0, 0x1840EF, 0, 0, 2, 8, 6, 0, 0};
    for (int p = GFPDB_FLASH_PARAM_NAME; p <= GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE; ++p) {
        SCOPED_TRACE("parameter " + std::to_string(p));
        const auto param = static_cast<GFPDB_FLASH_PARAM>(p);
        EXPECT_EQ(flash->get_parameter_value(param), texts[p]);
        EXPECT_EQ(flash->get_parameter_value_in_dword(param), numbers[p]);
        EXPECT_EQ(empty.get_parameter_value(param), "");
        EXPECT_EQ(empty.get_parameter_value_in_dword(param), 0u);
    }
    flash->set_parameter_value(GFPDB_FLASH_PARAM_ID, 42u);
    EXPECT_EQ(flash->get_parameter_value(GFPDB_FLASH_PARAM_ID), "42");
    flash->set_parameter_value(GFPDB_FLASH_PARAM_ID, 0xFFFFFFFFu);  // written as signed
    EXPECT_EQ(flash->get_parameter_value(GFPDB_FLASH_PARAM_ID), "-1");
}

TEST(QspiFlashParameters, IdWordAndMask) {
    struct CASE {
        const char* id;
        uint32_t word, mask;
    };
    const CASE cases[] = {
        {"0x20 0xBA 0x19", 0x19BA20u, 0xFFFFFFu},
        {"0xEF", 0xEFu, 0xFFu},
        {"1 2 3 4 5", 0x04030201u, 0xFFFFFFFFu},  // bytes past the fourth are ignored
        {"", 0, 0},
        {"0x20 0xBAD", 0, 0},  // no data list
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.id);
        GFPDB_QSPI_FLASH flash("F");
        flash.set_parameter_value(GFPDB_FLASH_PARAM_ID, std::string(c.id));
        uint32_t mask = 0xDEAD;
        EXPECT_EQ(flash.get_parameter_value_in_dword(GFPDB_FLASH_PARAM_ID, &mask), c.word);
        EXPECT_EQ(mask, c.mask);
    }
}

TEST(QspiFlashParameters, ValuesOfTheWrongFormStopTheProgram) {
    GFPDB_QSPI_FLASH flash("F");
    EXPECT_DEATH(flash.set_parameter_value(GFPDB_FLASH_PARAM_DENSITY, std::string("512Mb")),
                 literal("Unknown flash parameter: 3"));
    EXPECT_DEATH(flash.set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, 18u),
                 literal("Unknown flash parameter: 2"));
}

TEST(QspiFlashParameters, GenericNameFollowsTheDensity) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"64Mb", ""},
        {"128Mb", "QSPI128MB"},
        {"16MB", "QSPI128MB"},
        {"1024Mb", "QSPI1GB"},
        {"2048Mb", "QSPI2GB"},
    };
    for (const auto& c : cases) {
        GFPDB_QSPI_FLASH flash("F");
        flash.set_density(c.first);
        EXPECT_EQ(flash.get_generic_name(), c.second) << c.first;
    }
}

// ---------------------------------------------------------------------------------------------
// Operation lists

TEST(QspiFlashOperations, FlowsAreReplacedAndClearedSeparatelyLastFirst) {
    std::vector<std::string> log;
    GFPDB_QSPI_FLASH flash("F");
    GFPDB_OPERATION* sfl1 = new LOGGED_OPERATION("sfl1", &log);
    flash.add_operation_into_list(sfl1, SFL);
    flash.add_operation_into_list(new LOGGED_OPERATION("sfl2", &log), SFL);
    flash.set_operation_list(
        {new LOGGED_OPERATION("old1", &log), new LOGGED_OPERATION("old2", &log)}, SDM);
    GFPDB_OPERATION* sdm1 = new LOGGED_OPERATION("sdm1", &log);
    GFPDB_OPERATION* sdm2 = new LOGGED_OPERATION("sdm2", &log);
    flash.set_operation_list({sdm1, sdm2}, SDM);
    EXPECT_EQ(log, (std::vector<std::string>{"old2", "old1"}));
    EXPECT_EQ(*flash.get_operation_list(SDM), (std::vector<GFPDB_OPERATION*>{sdm1, sdm2}));
    EXPECT_EQ(flash.get_operation_list(SFL)->size(), 2u);
    EXPECT_EQ(flash.get_operation_list(SFL)->at(0), sfl1);

    log.clear();
    flash.clear_operation_list();
    EXPECT_EQ(log, (std::vector<std::string>{"sfl2", "sfl1", "sdm2", "sdm1"}));
    EXPECT_TRUE(flash.get_operation_list(SFL)->empty());
    EXPECT_TRUE(flash.get_operation_list(SDM)->empty());
}

// No flow but SFL and SDM can be passed without undefined behaviour: a build with the
// undefined-behaviour sanitizer stops at the first read of the value, before the flash checks it.
std::string unknown_flow_report() {
    return literal("Unknown programming flow type") + "|" +
           literal("not a valid value for type 'GFPDB_PROG_FLOW_TYPE'");
}

TEST(QspiFlashOperations, MisuseStopsTheProgram) {
    GFPDB_QSPI_FLASH flash("F");
    const GFPDB_PROG_FLOW_TYPE unknown = static_cast<GFPDB_PROG_FLOW_TYPE>(2);
    // The empty list and the null operation are tested before the flow.
    EXPECT_DEATH(flash.set_operation_list({}, unknown), literal("!operation_list.empty()"));
    EXPECT_DEATH(flash.add_operation_into_list(nullptr, unknown), literal("operation"));
    EXPECT_DEATH(flash.get_operation_list(unknown), unknown_flow_report());
    EXPECT_DEATH(flash.set_operation_list({new GFPDB_QSPI_OPERATION(GFPDB_OP_TYPE_ERASE)}, unknown),
                 unknown_flow_report());
}

// ---------------------------------------------------------------------------------------------
// Operations

TEST(QspiOperation, NewOperationIsNamedAndDescribedByItsType) {
    GFPDB_QSPI_OPERATION operation(GFPDB_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE);
    EXPECT_EQ(operation.get_name(), "Verify/Blank-Check/Examine");
    EXPECT_EQ(operation.get_operation_description(),
              gfpdb_op_type_description[GFPDB_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE]);
    EXPECT_TRUE(operation.get_action_list()->empty());
    EXPECT_DEATH(operation.add_action_into_list(nullptr), literal("action"));
}

TEST(QspiOperation, CopiesOwnNewActionsInTheSameOrder) {
    GFPDB_QSPI_OPERATION source(GFPDB_OP_TYPE_PROGRAM);
    source.set_name("Custom program");
    source.add_action_into_list(named_action(GFPDB_ACT_TYPE_WRITE_REGISTER, "WREN"));
    source.add_action_into_list(named_action(GFPDB_ACT_TYPE_WRITE_DATA, "PP"));
    source.add_action_into_list(named_action(GFPDB_ACT_TYPE_READ_REGISTER, "RDSR"));
    const std::vector<std::string> names = {"WREN", "PP", "RDSR"};

    GFPDB_QSPI_OPERATION copy(source);
    GFPDB_QSPI_OPERATION assigned(GFPDB_OP_TYPE_ERASE);
    assigned.add_action_into_list(named_action(GFPDB_ACT_TYPE_CUSTOM, "old"));
    assigned = source;
    GFPDB_QSPI_OPERATION& alias = assigned;
    assigned = alias;
    for (GFPDB_QSPI_OPERATION* result : {&copy, &assigned}) {
        EXPECT_EQ(result->get_name(), "Custom program");
        EXPECT_EQ(result->get_operation_type(), GFPDB_OP_TYPE_PROGRAM);
        EXPECT_EQ(action_names(result), names);
        for (size_t i = 0; i < names.size(); ++i)
            EXPECT_NE(result->get_action_list()->at(i), source.get_action_list()->at(i));
    }
    copy.clear_action_list();
    EXPECT_TRUE(copy.get_action_list()->empty());
    EXPECT_EQ(action_names(&source), names);
}

// ---------------------------------------------------------------------------------------------
// Copying a whole flash

TEST(QspiFlashCopy, CopiesAreDeepAndOutliveTheSource) {
    std::vector<std::string> log;
    std::unique_ptr<GFPDB_QSPI_FLASH> source = filled_flash();
    GFPDB_QSPI_FLASH copy(*source);
    GFPDB_QSPI_FLASH assigned("old");
    assigned.add_operation_into_list(new LOGGED_OPERATION("old", &log), SDM);
    assigned = *source;
    EXPECT_EQ(log, std::vector<std::string>{"old"});

    for (GFPDB_QSPI_FLASH* result : {&copy, &assigned}) {
        EXPECT_EQ(result->get_name(), "W25Q128");
        EXPECT_EQ(result->get_density(), "128Mb");
        EXPECT_EQ(result->get_db_dir(), "/db/");
        EXPECT_TRUE(result->get_flash_removable_permission());
        for (int p = GFPDB_FLASH_PARAM_NAME; p <= GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE; ++p) {
            const GFPDB_FLASH_PARAM param = static_cast<GFPDB_FLASH_PARAM>(p);
            EXPECT_EQ(result->get_parameter_value(param), source->get_parameter_value(param));
            EXPECT_EQ(result->get_parameter_value_in_dword(param),
                      source->get_parameter_value_in_dword(param));
        }
        for (GFPDB_PROG_FLOW_TYPE flow : {SFL, SDM}) {
            ASSERT_EQ(result->get_operation_list(flow)->size(), 1u);
            EXPECT_NE(result->get_operation_list(flow)->at(0),
                      source->get_operation_list(flow)->at(0));
        }
    }
    source.reset();  // ASan reports any operation or action still shared with the source
    EXPECT_EQ(action_names(copy.get_operation_list(SDM)->at(0)), std::vector<std::string>{"sdm"});
    EXPECT_EQ(action_names(assigned.get_operation_list(SFL)->at(0)),
              std::vector<std::string>{"sfl"});
}

}  // namespace
