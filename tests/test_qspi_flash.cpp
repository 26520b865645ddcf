// QSPI flash and operation records: parameters, the ID word, generic names, and the ownership
// of operations and actions through lists, copies and assignment.
#include <string>
#include <utility>
#include <vector>

#include "pgm/gfpdb/gfpdb_qspi_action.h"
#include "pgm/gfpdb/gfpdb_qspi_flash.h"
#include "pgm/gfpdb/gfpdb_qspi_operation.h"
#include "support/test_support.h"

namespace {

using gfpdb_test::literal;

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

// ---------------------------------------------------------------------------------------------
// Parameters

TEST(QspiFlashParameters, NewFlashIsEmpty) {
    GFPDB_QSPI_FLASH flash("MX25L512");
    EXPECT_EQ(flash.get_name(), "MX25L512");
    EXPECT_EQ(flash.get_family(), DEV_FAMILY_QSPI_FLASH);
    for (int p = GFPDB_FLASH_PARAM_NAME; p <= GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE; ++p) {
        const GFPDB_FLASH_PARAM param = static_cast<GFPDB_FLASH_PARAM>(p);
        EXPECT_EQ(flash.get_parameter_value(param), "") << "parameter " << p;
        EXPECT_EQ(flash.get_parameter_value_in_dword(param), 0u) << "parameter " << p;
    }
    for (GFPDB_PROG_FLOW_TYPE flow : {GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_PROG_FLOW_TYPE_SDM})
        EXPECT_TRUE(flash.get_operation_list(flow)->empty());
}

TEST(QspiFlashParameters, EachParameterKeepsItsOwnValue) {
    GFPDB_QSPI_FLASH flash("F");
    flash.set_parameter_value(GFPDB_FLASH_PARAM_ID, std::string("0x20 0xBA 0x19"));
    flash.set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, std::string("1.8V"));
    flash.set_parameter_value(GFPDB_FLASH_PARAM_TOTAL_DIE, 2u);
    flash.set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, 8u);
    flash.set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 10u);
    flash.set_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME, std::string("Mine"));
    flash.set_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, std::string("Micron"));

    EXPECT_EQ(flash.get_parameter_value(GFPDB_FLASH_PARAM_ID), "0x20 0xBA 0x19");
    EXPECT_EQ(flash.get_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE), "1.8V");
    EXPECT_EQ(flash.get_parameter_value_in_dword(GFPDB_FLASH_PARAM_TOTAL_DIE), 2u);
    EXPECT_EQ(flash.get_parameter_value_in_dword(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE), 8u);
    EXPECT_EQ(flash.get_parameter_value_in_dword(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4), 10u);
    EXPECT_EQ(flash.get_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME), "Mine");
    EXPECT_EQ(flash.get_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE), "Micron");
    // Numbers have no text form and texts no number form.
    EXPECT_EQ(flash.get_parameter_value(GFPDB_FLASH_PARAM_TOTAL_DIE), "");
    EXPECT_EQ(flash.get_parameter_value_in_dword(GFPDB_FLASH_PARAM_IO_VOLTAGE), 0u);
}

TEST(QspiFlashParameters, NameAndDensityAreNotParameters) {
    GFPDB_QSPI_FLASH flash("N25Q512");
    flash.set_density("512Mb");
    EXPECT_EQ(flash.get_parameter_value(GFPDB_FLASH_PARAM_NAME), "");
    EXPECT_EQ(flash.get_parameter_value(GFPDB_FLASH_PARAM_DENSITY), "");
    EXPECT_EQ(flash.get_parameter_value_in_dword(GFPDB_FLASH_PARAM_DENSITY), 0u);
}

TEST(QspiFlashParameters, IdSetAsNumberIsWrittenAsSignedDecimal) {
    GFPDB_QSPI_FLASH flash("F");
    flash.set_parameter_value(GFPDB_FLASH_PARAM_ID, 42u);
    EXPECT_EQ(flash.get_parameter_value(GFPDB_FLASH_PARAM_ID), "42");
    flash.set_parameter_value(GFPDB_FLASH_PARAM_ID, 0xFFFFFFFFu);
    EXPECT_EQ(flash.get_parameter_value(GFPDB_FLASH_PARAM_ID), "-1");
}

TEST(QspiFlashParameters, IdWordAndMask) {
    struct CASE {
        const char* id;
        uint32_t word, mask;
    };
    const CASE cases[] = {
        {"0x20 0xBA 0x19", 0x19BA20u, 0xFFFFFFu},
        {"0xEF", 0xEFu, 0xFFu},
        {"1 2 3 4", 0x04030201u, 0xFFFFFFFFu},
        {"1 2 3 4 5", 0x04030201u, 0xFFFFFFFFu},  // bytes past the fourth are ignored
        {"", 0, 0},
        {"0x20 0xBAD", 0, 0},  // no data list
        {"300", 0, 0},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.id);
        GFPDB_QSPI_FLASH flash("F");
        flash.set_parameter_value(GFPDB_FLASH_PARAM_ID, std::string(c.id));
        uint32_t mask = 0xDEAD;
        EXPECT_EQ(flash.get_parameter_value_in_dword(GFPDB_FLASH_PARAM_ID, &mask), c.word);
        EXPECT_EQ(mask, c.mask);
        EXPECT_EQ(flash.get_parameter_value_in_dword(GFPDB_FLASH_PARAM_ID), c.word);
    }
}

TEST(QspiFlashParameters, MaskIsWrittenOnlyForTheId) {
    GFPDB_QSPI_FLASH flash("F");
    uint32_t mask = 0xDEAD;
    flash.get_parameter_value_in_dword(GFPDB_FLASH_PARAM_TOTAL_DIE, &mask);
    EXPECT_EQ(mask, 0xDEADu);
}

TEST(QspiFlashParameters, ValuesOfTheWrongFormStopTheProgram) {
    GFPDB_QSPI_FLASH flash("F");
    EXPECT_DEATH(flash.set_parameter_value(GFPDB_FLASH_PARAM_DENSITY, std::string("512Mb")),
                 literal("Unknown flash parameter: 3"));
    EXPECT_DEATH(flash.set_parameter_value(GFPDB_FLASH_PARAM_NAME, 1u),
                 literal("Unknown flash parameter: 0"));
    EXPECT_DEATH(flash.set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, 18u),
                 literal("Unknown flash parameter: 2"));
    EXPECT_DEATH(flash.set_parameter_value(GFPDB_FLASH_PARAM_TOTAL_DIE, std::string("2")),
                 literal("Unknown flash parameter: 4"));
}

TEST(QspiFlashParameters, GenericNameFollowsTheDensity) {
    struct CASE {
        const char* density;
        const char* generic;
    };
    const CASE cases[] = {
        {"", ""},
        {"64Mb", ""},
        {"128Mb", "QSPI128MB"},
        {"512Mb", "QSPI512MB"},
        {"1024Mb", "QSPI1GB"},
        {"2048Mb", "QSPI2GB"},
        {"16MB", "QSPI128MB"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.density);
        GFPDB_QSPI_FLASH flash("F");
        flash.set_density(c.density);
        EXPECT_EQ(flash.get_generic_name(), c.generic);
    }
}

// ---------------------------------------------------------------------------------------------
// Operation lists

TEST(QspiFlashOperations, AddedOperationsKeepTheirOrderPerFlow) {
    std::vector<std::string> log;
    {
        GFPDB_QSPI_FLASH flash("F");
        GFPDB_OPERATION* a = new LOGGED_OPERATION("a", &log);
        GFPDB_OPERATION* b = new LOGGED_OPERATION("b", &log);
        GFPDB_OPERATION* c = new LOGGED_OPERATION("c", &log);
        flash.add_operation_into_list(a, GFPDB_PROG_FLOW_TYPE_SFL);
        flash.add_operation_into_list(b, GFPDB_PROG_FLOW_TYPE_SFL);
        flash.add_operation_into_list(c, GFPDB_PROG_FLOW_TYPE_SDM);
        EXPECT_EQ(*flash.get_operation_list(GFPDB_PROG_FLOW_TYPE_SFL),
                  (std::vector<GFPDB_OPERATION*>{a, b}));
        EXPECT_EQ(*flash.get_operation_list(GFPDB_PROG_FLOW_TYPE_SDM),
                  std::vector<GFPDB_OPERATION*>{c});
    }
    // The flash deletes its operations, SFL before SDM, each list last first.
    EXPECT_EQ(log, (std::vector<std::string>{"b", "a", "c"}));
}

TEST(QspiFlashOperations, SettingOneFlowReplacesOnlyThatFlow) {
    std::vector<std::string> log;
    GFPDB_QSPI_FLASH flash("F");
    GFPDB_OPERATION* sfl = new LOGGED_OPERATION("sfl", &log);
    flash.add_operation_into_list(sfl, GFPDB_PROG_FLOW_TYPE_SFL);
    flash.set_operation_list(
        {new LOGGED_OPERATION("old1", &log), new LOGGED_OPERATION("old2", &log)},
        GFPDB_PROG_FLOW_TYPE_SDM);
    EXPECT_TRUE(log.empty());

    GFPDB_OPERATION* fresh = new LOGGED_OPERATION("new", &log);
    flash.set_operation_list({fresh}, GFPDB_PROG_FLOW_TYPE_SDM);
    EXPECT_EQ(log, (std::vector<std::string>{"old2", "old1"}));
    EXPECT_EQ(*flash.get_operation_list(GFPDB_PROG_FLOW_TYPE_SDM),
              std::vector<GFPDB_OPERATION*>{fresh});
    EXPECT_EQ(*flash.get_operation_list(GFPDB_PROG_FLOW_TYPE_SFL),
              std::vector<GFPDB_OPERATION*>{sfl});
    EXPECT_EQ(sfl->get_name(), "Program");  // still alive (ASan would object otherwise)
}

TEST(QspiFlashOperations, ClearingEmptiesBothFlowsSflFirst) {
    std::vector<std::string> log;
    GFPDB_QSPI_FLASH flash("F");
    flash.set_operation_list(
        {new LOGGED_OPERATION("sdm1", &log), new LOGGED_OPERATION("sdm2", &log)},
        GFPDB_PROG_FLOW_TYPE_SDM);
    flash.set_operation_list(
        {new LOGGED_OPERATION("sfl1", &log), new LOGGED_OPERATION("sfl2", &log)},
        GFPDB_PROG_FLOW_TYPE_SFL);
    flash.clear_operation_list();
    EXPECT_EQ(log, (std::vector<std::string>{"sfl2", "sfl1", "sdm2", "sdm1"}));
    EXPECT_TRUE(flash.get_operation_list(GFPDB_PROG_FLOW_TYPE_SFL)->empty());
    EXPECT_TRUE(flash.get_operation_list(GFPDB_PROG_FLOW_TYPE_SDM)->empty());
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
    EXPECT_DEATH(
        flash.add_operation_into_list(new GFPDB_QSPI_OPERATION(GFPDB_OP_TYPE_ERASE), unknown),
        unknown_flow_report());
    EXPECT_DEATH(flash.set_operation_list({new GFPDB_QSPI_OPERATION(GFPDB_OP_TYPE_ERASE)}, unknown),
                 unknown_flow_report());
}

// ---------------------------------------------------------------------------------------------
// Operations

TEST(QspiOperation, NewOperationIsNamedAndDescribedByItsType) {
    GFPDB_QSPI_OPERATION operation(GFPDB_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE);
    EXPECT_EQ(operation.get_operation_type(), GFPDB_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE);
    EXPECT_EQ(operation.get_name(), "Verify/Blank-Check/Examine");
    EXPECT_EQ(operation.get_operation_description(),
              gfpdb_op_type_description[GFPDB_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE]);
    EXPECT_TRUE(operation.get_action_list()->empty());
}

TEST(QspiOperation, CopyOwnsNewActionsInTheSameOrder) {
    GFPDB_QSPI_OPERATION source(GFPDB_OP_TYPE_PROGRAM);
    source.set_name("Custom program");
    source.add_action_into_list(named_action(GFPDB_ACT_TYPE_WRITE_REGISTER, "WREN"));
    source.add_action_into_list(named_action(GFPDB_ACT_TYPE_WRITE_DATA, "PP"));
    source.add_action_into_list(named_action(GFPDB_ACT_TYPE_READ_REGISTER, "RDSR"));
    source.get_action_list()->at(1)->set_property_value(GFPDB_ACT_PROPERTY_WRITE_DATA_COMMAND,
                                                        "0x02");

    GFPDB_QSPI_OPERATION copy(source);
    EXPECT_EQ(copy.get_name(), "Custom program");
    EXPECT_EQ(copy.get_operation_type(), GFPDB_OP_TYPE_PROGRAM);
    EXPECT_EQ(copy.get_operation_description(), source.get_operation_description());
    EXPECT_EQ(action_names(&copy), (std::vector<std::string>{"WREN", "PP", "RDSR"}));
    for (size_t i = 0; i < 3; ++i)
        EXPECT_NE(copy.get_action_list()->at(i), source.get_action_list()->at(i));
    EXPECT_EQ(
        copy.get_action_list()->at(1)->get_property_value(GFPDB_ACT_PROPERTY_WRITE_DATA_COMMAND),
        "0x02");

    copy.clear_action_list();
    EXPECT_TRUE(copy.get_action_list()->empty());
    EXPECT_EQ(action_names(&source), (std::vector<std::string>{"WREN", "PP", "RDSR"}));
}

TEST(QspiOperation, AssignmentReplacesTheActionsWithCopies) {
    GFPDB_QSPI_OPERATION source(GFPDB_OP_TYPE_ERASE);
    source.add_action_into_list(named_action(GFPDB_ACT_TYPE_ERASE, "SE"));
    GFPDB_QSPI_OPERATION target(GFPDB_OP_TYPE_INITIALIZATION);
    target.add_action_into_list(named_action(GFPDB_ACT_TYPE_CUSTOM, "old"));
    target = source;
    EXPECT_EQ(target.get_name(), "Erase");
    EXPECT_EQ(target.get_operation_type(), GFPDB_OP_TYPE_ERASE);
    EXPECT_EQ(action_names(&target), std::vector<std::string>{"SE"});
    EXPECT_NE(target.get_action_list()->at(0), source.get_action_list()->at(0));

    GFPDB_QSPI_OPERATION& alias = target;
    target = alias;
    EXPECT_EQ(action_names(&target), std::vector<std::string>{"SE"});
}

TEST(QspiOperation, NullActionStopsTheProgram) {
    GFPDB_QSPI_OPERATION operation(GFPDB_OP_TYPE_PROGRAM);
    EXPECT_DEATH(operation.add_action_into_list(nullptr), literal("action"));
}

// ---------------------------------------------------------------------------------------------
// Copying a whole flash

GFPDB_QSPI_FLASH* filled_flash() {
    GFPDB_QSPI_FLASH* flash = new GFPDB_QSPI_FLASH("W25Q128");
    flash->set_density("128Mb");
    flash->set_db_dir("/db/");
    flash->set_flash_removable_permission(true);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_ID, std::string("0xEF 0x40 0x18"));
    flash->set_parameter_value(GFPDB_FLASH_PARAM_IO_VOLTAGE, std::string("3.0V/3.3V"));
    flash->set_parameter_value(GFPDB_FLASH_PARAM_TOTAL_DIE, 1u);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE, 8u);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 6u);
    flash->set_parameter_value(GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE, std::string("Winbond"));
    flash->set_parameter_value(GFPDB_FLASH_PARAM_TEMPLATE_NAME, std::string("T"));
    for (GFPDB_PROG_FLOW_TYPE flow : {GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_PROG_FLOW_TYPE_SDM}) {
        GFPDB_QSPI_OPERATION* operation = new GFPDB_QSPI_OPERATION(GFPDB_OP_TYPE_PROGRAM);
        operation->add_action_into_list(named_action(
            GFPDB_ACT_TYPE_WRITE_DATA, flow == GFPDB_PROG_FLOW_TYPE_SFL ? "sfl" : "sdm"));
        flash->add_operation_into_list(operation, flow);
    }
    return flash;
}

void expect_same_but_separate(GFPDB_QSPI_FLASH& copy, GFPDB_QSPI_FLASH& source) {
    EXPECT_EQ(copy.get_name(), "W25Q128");
    EXPECT_EQ(copy.get_density(), "128Mb");
    EXPECT_EQ(copy.get_db_dir(), "/db/");
    EXPECT_TRUE(copy.get_flash_removable_permission());
    for (int p = GFPDB_FLASH_PARAM_NAME; p <= GFPDB_FLASH_PARAM_PROG_FLOW_TEMPLATE; ++p) {
        const GFPDB_FLASH_PARAM param = static_cast<GFPDB_FLASH_PARAM>(p);
        EXPECT_EQ(copy.get_parameter_value(param), source.get_parameter_value(param));
        EXPECT_EQ(copy.get_parameter_value_in_dword(param),
                  source.get_parameter_value_in_dword(param));
    }
    for (GFPDB_PROG_FLOW_TYPE flow : {GFPDB_PROG_FLOW_TYPE_SFL, GFPDB_PROG_FLOW_TYPE_SDM}) {
        const std::vector<GFPDB_OPERATION*>& copied = *copy.get_operation_list(flow);
        const std::vector<GFPDB_OPERATION*>& original = *source.get_operation_list(flow);
        ASSERT_EQ(copied.size(), 1u);
        EXPECT_NE(copied[0], original[0]);
        EXPECT_EQ(action_names(copied[0]), action_names(original[0]));
        EXPECT_NE(copied[0]->get_action_list()->at(0), original[0]->get_action_list()->at(0));
    }
}

TEST(QspiFlashCopy, CopyIsDeepAndOutlivesTheSource) {
    GFPDB_QSPI_FLASH* source = filled_flash();
    GFPDB_QSPI_FLASH copy(*source);
    expect_same_but_separate(copy, *source);
    delete source;
    EXPECT_EQ(action_names(copy.get_operation_list(GFPDB_PROG_FLOW_TYPE_SDM)->at(0)),
              std::vector<std::string>{"sdm"});
}

TEST(QspiFlashCopy, AssignmentDropsTheOldOperations) {
    std::vector<std::string> log;
    GFPDB_QSPI_FLASH* source = filled_flash();
    GFPDB_QSPI_FLASH target("old");
    target.add_operation_into_list(new LOGGED_OPERATION("old", &log), GFPDB_PROG_FLOW_TYPE_SDM);
    target = *source;
    EXPECT_EQ(log, std::vector<std::string>{"old"});
    expect_same_but_separate(target, *source);
    delete source;

    GFPDB_QSPI_FLASH& alias = target;
    target = alias;
    EXPECT_EQ(target.get_operation_list(GFPDB_PROG_FLOW_TYPE_SFL)->size(), 1u);
}

}  // namespace
