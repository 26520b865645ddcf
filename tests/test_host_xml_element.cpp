// The element base: attribute registration, ownership and grouping of children, values,
// attributes and count rules.
#include "support/test_host_elements.h"
#include "support/test_support.h"

namespace {

using gfpdb_test::literal;
using gfpdb_test::TEST_DELAY;
using gfpdb_test::TEST_NAME;
using gfpdb_test::TEST_ROOT;

// Registers one attribute described by the test.
class ONE_ATTRIBUTE : public PGM_COMMON_XML_ELEMENT {
public:
    ONE_ATTRIBUTE(const char* name, PGM_XML_TYPE type, PGM_XML_EXIST exist, bool with_ptr)
        : PGM_COMMON_XML_ELEMENT(PGM_COMMON_XML_ENUM_ACTION, PGM_COMMON_XML_ENUM_ACTION,
                                 PGM_XML_TYPE_NONE, PGM_XML_EXIST_NONE, "", "", nullptr) {
        add_attribute(name, type, exist, "", "", with_ptr ? &m_text : nullptr);
        init_check();
    }

private:
    std::string m_text;
};

// An element whose value kind and value member disagree.
class BROKEN_VALUE : public PGM_COMMON_XML_ELEMENT {
public:
    BROKEN_VALUE(PGM_XML_TYPE type, void* ptr)
        : PGM_COMMON_XML_ELEMENT(PGM_COMMON_XML_ENUM_NAME, PGM_COMMON_XML_ENUM_NAME, type,
                                 PGM_XML_EXIST_REQUIRED, "", "", ptr) {
        init_check();
    }
};

TEST(HostXmlElementDeathTest, BrokenAttributeDescriptorsStopTheProgram) {
    struct CASE {
        const char* name;
        PGM_XML_TYPE type;
        PGM_XML_EXIST exist;
        bool with_ptr;
        const char* condition;
    };
    const CASE cases[] = {
        {"", PGM_XML_TYPE_STRING, PGM_XML_EXIST_REQUIRED, true, "name.size()"},
        {"a", PGM_XML_TYPE_INVALID, PGM_XML_EXIST_REQUIRED, true, "type < PGM_XML_TYPE_INVALID"},
        {"a", PGM_XML_TYPE_STRING, PGM_XML_EXIST_INVALID, true, "exist < PGM_XML_EXIST_INVALID"},
        {"__if_continue__", PGM_XML_TYPE_STRING, PGM_XML_EXIST_OPTIONAL, true, "ptr == NULL"},
        {"__if_skip__", PGM_XML_TYPE_STRING, PGM_XML_EXIST_OPTIONAL, true, "ptr == NULL"},
        {"__hidden__", PGM_XML_TYPE_STRING, PGM_XML_EXIST_OPTIONAL, true, "ptr == NULL"},
        {"a", PGM_XML_TYPE_STRING, PGM_XML_EXIST_REQUIRED, false, "ptr != NULL"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.condition);
        EXPECT_DEATH(ONE_ATTRIBUTE(c.name, c.type, c.exist, c.with_ptr),
                     literal("File: pgm/h/pgm_common_xml_export, Line: ") + "[0-9]+\n" +
                         literal(c.condition));
    }
}

TEST(HostXmlElementDeathTest, ValueKindAndMemberMustAgree) {
    std::string text;
    EXPECT_DEATH(BROKEN_VALUE(PGM_XML_TYPE_STRING, nullptr), literal("m_value_ptr != NULL"));
    EXPECT_DEATH(BROKEN_VALUE(PGM_XML_TYPE_NONE, &text), literal("m_value_ptr == NULL"));
}

TEST(HostXmlElement, ControlAttributesNeedNoMember) {
    ONE_ATTRIBUTE element("__hidden__", PGM_XML_TYPE_STRING, PGM_XML_EXIST_OPTIONAL, false);
    EXPECT_TRUE(element.read_attribute_text("__hidden__", "1"));
    EXPECT_EQ(element.get_attribute_text("__hidden__"), "1");
}

TEST(HostXmlElement, ChildrenAreOwnedGroupedAndFoundInDocumentOrder) {
    TEST_ROOT root;
    auto* delay = new TEST_DELAY;
    auto* second = new TEST_NAME;
    auto* first = new TEST_NAME;
    root.add_child(delay, nullptr);
    root.add_child(second, nullptr);
    root.add_child(first, second);  // inserted before
    EXPECT_EQ(first->get_parent(), &root);
    EXPECT_EQ(root.get_all_childs(), (std::vector<PGM_COMMON_XML_ELEMENT*>{delay, first, second}));
    EXPECT_EQ(root.names, (std::vector<PGM_COMMON_XML_ELEMENT*>{first, second}));
    EXPECT_EQ(root.get_childs(PGM_COMMON_XML_ENUM_NAME),
              (std::vector<PGM_COMMON_XML_ELEMENT*>{first, second}));
    EXPECT_EQ(root.get_child_count(PGM_COMMON_XML_ENUM_DELAY), 1u);
    EXPECT_EQ(root.get_child_count(PGM_COMMON_XML_ENUM_ACTION), 0u);

    EXPECT_EQ(root.remove_child(first), first);
    EXPECT_EQ(first->get_parent(), nullptr);
    EXPECT_EQ(root.names, (std::vector<PGM_COMMON_XML_ELEMENT*>{second}));
    EXPECT_EQ(root.delays, (std::vector<PGM_COMMON_XML_ELEMENT*>{delay}));
    EXPECT_EQ(root.remove_child(first), nullptr);
    delete first;  // the caller owns a removed child; the root deletes the others
}

TEST(HostXmlElement, ChildListsFollowAVectorStepByStep) {
    int items[4];
    PGM_COMMON_XML_CHILD_LIST<int> list;
    std::vector<int*> model;
    // Added at the back and the front, removed from both, past the one child kept in place.
    const struct {
        char step;  // 'b' push_back, 'f' insert at the front, 'e' erase the front, 'p' pop_back
        int item;
    } steps[] = {{'b', 0}, {'f', 1}, {'b', 2}, {'f', 3}, {'b', 0}, {'e', 0},
                 {'p', 0}, {'e', 0}, {'p', 0}, {'p', 0}, {'f', 2}};
    for (const auto& s : steps) {
        int* item = &items[s.item];
        if (s.step == 'b') {
            list.push_back(item);
            model.push_back(item);
        } else if (s.step == 'f') {
            list.insert(list.begin(), item);
            model.insert(model.begin(), item);
        } else if (s.step == 'e') {
            list.erase(list.begin());
            model.erase(model.begin());
        } else {
            list.pop_back();
            model.pop_back();
        }
        const PGM_COMMON_XML_CHILD_LIST<int> copy = list;
        EXPECT_EQ(std::vector<int*>(copy), model) << s.step << s.item;
    }
    EXPECT_THROW(list.at(1), std::out_of_range);
}

TEST(HostXmlElement, DescendantsAreFoundDepthFirst) {
    PGM_COMMON_XML_ELEMENT top(PGM_COMMON_XML_ENUM_SFL, PGM_COMMON_XML_ENUM_SFL, PGM_XML_TYPE_NONE,
                               PGM_XML_EXIST_NONE, "", "", nullptr);
    auto* init = new PGM_COMMON_XML_ELEMENT(PGM_COMMON_XML_ENUM_INITIALIZATION,
                                            PGM_COMMON_XML_ENUM_INITIALIZATION, PGM_XML_TYPE_NONE,
                                            PGM_XML_EXIST_NONE, "", "", nullptr);
    auto* a = new TEST_NAME;
    auto* b = new TEST_NAME;
    auto* c = new TEST_NAME;
    top.add_child(init, nullptr);
    init->add_child(a, nullptr);
    init->add_child(b, nullptr);
    top.add_child(c, nullptr);
    EXPECT_EQ(top.get_childs(PGM_COMMON_XML_ENUM_NAME, true),
              (std::vector<PGM_COMMON_XML_ELEMENT*>{c}));
    EXPECT_EQ(top.get_childs(PGM_COMMON_XML_ENUM_NAME, false),
              (std::vector<PGM_COMMON_XML_ELEMENT*>{a, b, c}));
    EXPECT_EQ(top.get_child_count(PGM_COMMON_XML_ENUM_NAME, false), 3u);
}

TEST(HostXmlElement, ValuesGoThroughTheMember) {
    TEST_DELAY delay;
    EXPECT_EQ(delay.get_value_text(), "0");  // the default until written
    EXPECT_FALSE(delay.has_value());
    delay.write_value(50);
    EXPECT_EQ(delay.value, 50u);
    EXPECT_EQ(delay.get_value_text(), "50");
    EXPECT_TRUE(delay.has_value());

    const std::pair<const char*, bool> number_texts[] = {
        {"42", true},    {" 7\n", true}, {"4294967295", true}, {"4294967296", false},
        {"0x10", false}, {"-1", false},  {"", false},          {"1 2", false},
    };
    for (const auto& t : number_texts)
        EXPECT_EQ(delay.read_value_text(t.first), t.second) << t.first;
    EXPECT_EQ(delay.value, 4294967295u);

    TEST_NAME name;
    EXPECT_TRUE(name.read_value_text(" Reset enable "));
    EXPECT_EQ(name.value, " Reset enable ");  // text is kept as it is
    name.write_string("Read ID");
    EXPECT_EQ(name.get_value_text(), "Read ID");
}

TEST(HostXmlElement, AttributesByKind) {
    TEST_ROOT root;
    EXPECT_EQ(root.get_attribute_text("version"), "1");  // default
    EXPECT_EQ(root.get_attribute_text("type"), "_INVALID__");
    root.write_attribute_value("version", 3);
    EXPECT_EQ(root.version, 3u);
    EXPECT_EQ(root.get_attribute_text("version"), "3");
    root.write_attribute_enum("type", PGM_COMMON_XML_ENUM_ERASE);
    EXPECT_EQ(root.type, PGM_COMMON_XML_ENUM_ERASE);
    EXPECT_EQ(root.get_attribute_text("type"), "ERASE");

    EXPECT_TRUE(root.read_attribute_text("type", "WRITE_REG"));
    EXPECT_EQ(root.type, PGM_COMMON_XML_ENUM_WRITE_REG);
    EXPECT_FALSE(root.read_attribute_text("type", "READ_REG"));  // a kind, but not allowed
    EXPECT_FALSE(root.read_attribute_text("type", "write_reg"));
    EXPECT_FALSE(root.read_attribute_text("version", "x1"));
    EXPECT_FALSE(root.read_attribute_text("unknown", "1"));
    EXPECT_TRUE(root.read_attribute_text("version", "12"));
    EXPECT_EQ(root.version, 12u);

    TEST_DELAY delay;
    EXPECT_EQ(delay.get_attribute_text("unit"), "us");
    delay.write_attribute_string("unit", "ms");
    EXPECT_EQ(delay.unit, "ms");
    EXPECT_EQ(delay.get_attribute_text("unit"), "ms");
    EXPECT_EQ(delay.get_attribute_text("none"), "");
}

TEST(HostXmlElement, CountRulesRecordEveryMiss) {
    TEST_ROOT root;
    for (int i = 0; i < 3; ++i)
        root.add_child(new TEST_NAME, nullptr);
    EXPECT_FALSE(root.check_child_count());
    ASSERT_EQ(root.get_count_errors().size(), 2u);
    const std::string names = root.get_count_errors()[0];
    EXPECT_NE(names.find("'FLASH'"), std::string::npos) << names;
    EXPECT_NE(names.find("3 'NAME'"), std::string::npos) << names;
    EXPECT_NE(names.find("from 1 to 2"), std::string::npos) << names;
    const std::string delays = root.get_count_errors()[1];
    EXPECT_NE(delays.find("0 'DELAY'"), std::string::npos) << delays;
    EXPECT_NE(delays.find("exactly 1"), std::string::npos) << delays;

    TEST_ROOT good;
    good.add_child(new TEST_NAME, nullptr);
    good.add_child(new TEST_DELAY, nullptr);
    EXPECT_TRUE(good.check_child_count());
    EXPECT_TRUE(good.get_count_errors().empty());
}

}  // namespace
