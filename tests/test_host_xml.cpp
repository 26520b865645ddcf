// The XML file functions: schema checks and their cache, safe parsing into typed trees, and
// writing through a temporary file.
#include <sys/resource.h>

#include <csignal>

#include "support/test_host_elements.h"
#include "support/test_support.h"

namespace {

using gfpdb_test::read_file;
using gfpdb_test::TEMP_DIR;
using gfpdb_test::TEST_DELAY;
using gfpdb_test::TEST_FILE_KIND;
using gfpdb_test::TEST_NAME;
using gfpdb_test::TEST_ROOT;
using gfpdb_test::write_file;
namespace fs = std::filesystem;

const char* const schema_text = R"(<?xml version="1.0" encoding="UTF-8"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:element name="FLASH">
    <xs:complexType>
      <xs:sequence>
        <xs:element name="NAME" type="xs:string" maxOccurs="NAMES"/>
        <xs:element name="DELAY" minOccurs="0">
          <xs:complexType>
            <xs:simpleContent>
              <xs:extension base="xs:unsignedInt">
                <xs:attribute name="unit" type="xs:string"/>
              </xs:extension>
            </xs:simpleContent>
          </xs:complexType>
        </xs:element>
      </xs:sequence>
      <xs:attribute name="version" type="xs:unsignedInt" use="required"/>
      <xs:attribute name="type" type="xs:string"/>
    </xs:complexType>
  </xs:element>
</xs:schema>
)";

// The test schema, taking `names` NAME elements at most.
std::string schema(const std::string& names) {
    std::string text = schema_text;
    return text.replace(text.find("NAMES"), 5, names);
}

const char* const two_names = R"(<?xml version="1.0"?>
<FLASH version="2" type="ERASE">
  <NAME>first</NAME>
  <NAME>second</NAME>
  <DELAY unit="ms">5</DELAY>
</FLASH>
)";

struct PARSED {
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root;
    std::string error, warning, info;
};

PARSED parse(const std::string& file, const std::string& xsd, bool golden,
             PGM_COMMON_XML_FILE_ENUM kind = TEST_FILE_KIND) {
    PARSED parsed;
    parsed.root.reset(PGM_COMMON_XML::parse_xml(kind, file, xsd, golden, parsed.error,
                                                parsed.warning, parsed.info));
    return parsed;
}

class HostXml : public testing::Test {
protected:
    static void SetUpTestSuite() { gfpdb_test::register_test_elements(); }
    void SetUp() override {
        m_xsd = m_dir / "test.xsd";
        write_file(m_xsd, schema("unbounded"));
    }
    std::string check(const std::string& file, std::string* error2 = nullptr) {
        std::string error, second;
        PGM_COMMON_XML::check_xsd(file, m_xsd, error, second);
        if (error2)
            *error2 = second;
        return error;
    }
    TEMP_DIR m_dir;
    std::string m_xsd;
};

TEST_F(HostXml, SchemaVerdictsStayRightWhenTheSchemaChanges) {
    const std::string file = m_dir / "two.xml";
    write_file(file, two_names);
    std::string error2 = "x";
    EXPECT_EQ(check(file, &error2), "");
    EXPECT_EQ(error2, "");
    EXPECT_EQ(check(file), "");  // the cached schema gives the same verdict

    // One NAME at most now; the date moves on as well as the size.
    write_file(m_xsd, schema("1"));
    fs::last_write_time(m_xsd, fs::last_write_time(m_xsd) + std::chrono::seconds(5));
    const std::string error = check(file);
    EXPECT_NE(error.find(file + ":4: "), std::string::npos) << error;
    EXPECT_EQ(check(file), error);

    write_file(m_xsd, schema("unbounded"));
    fs::last_write_time(m_xsd, fs::last_write_time(m_xsd) + std::chrono::seconds(10));
    EXPECT_EQ(check(file), "");
}

TEST_F(HostXml, ASchemaHoldLooksAtTheSchemaOnce) {
    const std::string file = m_dir / "two.xml";
    write_file(file, two_names);
    {
        PGM_COMMON_XML::SCHEMA_HOLD hold;
        EXPECT_EQ(check(file), "");
        write_file(m_xsd, schema("1"));
        fs::last_write_time(m_xsd, fs::last_write_time(m_xsd) + std::chrono::seconds(5));
        EXPECT_EQ(check(file), "");  // the schema as the hold found it
    }
    EXPECT_NE(check(file), "");
}

TEST_F(HostXml, SchemaErrorsComeFirstAndTheRestSecond) {
    const std::string file = m_dir / "bad.xml";
    write_file(file, "<FLASH>\n<NAME>a</NAME>\n<DELAY>x</DELAY>\n</FLASH>\n");
    std::string error2;
    const std::string error = check(file, &error2);
    EXPECT_NE(error.find(file + ":1: "), std::string::npos) << error;  // no version
    EXPECT_NE(error2.find(file + ":3: "), std::string::npos) << error2;
}

TEST_F(HostXml, UnreadableFilesAreErrors) {
    EXPECT_NE(check(m_dir / "missing.xml"), "");
    write_file(m_dir / "broken.xml", "<FLASH version=\"1\"><NAME>");
    EXPECT_NE(check(m_dir / "broken.xml").find(m_dir / "broken.xml:1: "), std::string::npos);

    std::string error, error2;
    PGM_COMMON_XML::check_xsd(m_dir / "broken.xml", m_dir / "missing.xsd", error, error2);
    EXPECT_NE(error.find("missing.xsd"), std::string::npos) << error;

    PARSED parsed = parse(m_dir / "missing.xml", m_xsd, false);
    ASSERT_NE(parsed.root, nullptr);
    EXPECT_EQ(parsed.root->get_type(), PGM_COMMON_XML_ENUM_FLASH);
    EXPECT_TRUE(parsed.root->get_all_childs().empty());
    EXPECT_NE(parsed.error, "");
}

TEST_F(HostXml, CountProblemsAndBadContentAreReported) {
    const std::string file = m_dir / "odd.xml";
    write_file(file,
               "<FLASH version=\"1\" type=\"READ_REG\">\n"
               "<NAME>a</NAME><NAME>b</NAME><NAME>c</NAME>\n"
               "<UNKNOWN_THING/>\n"
               "<DELAY>12x</DELAY>\n"
               "</FLASH>\n");
    PARSED parsed = parse(file, "", true);  // trusted: no schema
    EXPECT_NE(parsed.error.find("UNKNOWN_THING"), std::string::npos) << parsed.error;
    EXPECT_NE(parsed.error.find("READ_REG"), std::string::npos) << parsed.error;
    EXPECT_NE(parsed.error.find(file + ":4: "), std::string::npos) << parsed.error;
    EXPECT_NE(parsed.warning.find("3 'NAME'"), std::string::npos) << parsed.warning;
    EXPECT_EQ(parsed.root->get_child_count(PGM_COMMON_XML_ENUM_NAME), 3u);
}

TEST_F(HostXml, UserFileIsCheckedEvenWithoutAPrecedingCheck) {
    const std::string file = m_dir / "two.xml";
    write_file(file, two_names);
    ASSERT_EQ(check(file), "");
    // Replaced between the check and the parse: the parse builds the tree of the bytes that
    // passed the check, never a mix of the two files.
    write_file(file, "<FLASH><NAME>x</NAME></FLASH>\n");
    PARSED checked = parse(file, m_xsd, false);
    EXPECT_EQ(checked.error, "");
    EXPECT_EQ(checked.root->get_all_childs().size(), 3u);
    // A parse that no check preceded reads the file again and checks it itself.
    PARSED parsed = parse(file, m_xsd, false);
    EXPECT_NE(parsed.error.find("version"), std::string::npos) << parsed.error;
    EXPECT_TRUE(parsed.root->get_all_childs().empty());
}

TEST_F(HostXml, WrongRootGivesAnEmptyRoot) {
    const std::string file = m_dir / "root.xml";
    write_file(file, "<NAME>x</NAME>\n");
    PARSED parsed = parse(file, "", true);
    EXPECT_EQ(parsed.root->get_type(), PGM_COMMON_XML_ENUM_FLASH);
    EXPECT_TRUE(parsed.root->get_all_childs().empty());
    EXPECT_NE(parsed.error.find("'NAME'"), std::string::npos) << parsed.error;
}

TEST_F(HostXml, ElementWithoutFactoryIsPlain) {
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> element(
        PGM_COMMON_XML::create_element(TEST_FILE_KIND, PGM_COMMON_XML_ENUM_COMMAND));
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(element->get_type(), PGM_COMMON_XML_ENUM_COMMAND);
    EXPECT_EQ(element->get_value_type(), PGM_XML_TYPE_NONE);
    EXPECT_EQ(dynamic_cast<TEST_ROOT*>(element.get()), nullptr);
}

// Files that try to reach outside: none of them may show the secret or be accepted.
TEST_F(HostXml, DoctypesAndExternalEntitiesAreRefused) {
    const std::string secret = m_dir / "secret.txt";
    write_file(secret, "TOP-SECRET-CONTENT");
    write_file(m_dir / "secret.dtd", "<!ENTITY leak SYSTEM \"file://" + secret + "\">");
    const std::string documents[] = {
        "<!DOCTYPE FLASH [<!ENTITY x SYSTEM \"file://" + secret +
            "\">]>\n<FLASH version=\"1\"><NAME>&x;</NAME></FLASH>\n",
        "<!DOCTYPE FLASH SYSTEM \"" + m_dir / "secret.dtd" +
            "\">\n<FLASH version=\"1\"><NAME>&leak;</NAME></FLASH>\n",
        "<!DOCTYPE FLASH [<!ENTITY % p SYSTEM \"" + m_dir / "secret.dtd" +
            "\"> %p;]>\n<FLASH version=\"1\"><NAME>&leak;</NAME></FLASH>\n",
        "<!DOCTYPE FLASH>\n<FLASH version=\"1\"><NAME>plain</NAME></FLASH>\n",
    };
    for (const std::string& document : documents) {
        SCOPED_TRACE(document);
        const std::string file = m_dir / "outside.xml";
        write_file(file, document);
        fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(1));
        std::string error, error2;
        PGM_COMMON_XML::check_xsd(file, m_xsd, error, error2);
        EXPECT_EQ(error, file + ": a DOCTYPE is not allowed in a database file");
        for (bool golden : {false, true}) {
            PARSED parsed = parse(file, m_xsd, golden);
            EXPECT_EQ(parsed.error, file + ": a DOCTYPE is not allowed in a database file");
            EXPECT_TRUE(parsed.root->get_all_childs().empty());
            for (const std::string& text : {error, error2, parsed.error, parsed.warning})
                EXPECT_EQ(text.find("TOP-SECRET"), std::string::npos);
        }
        EXPECT_TRUE(PGM_COMMON_XML::element_lines(file).empty());
    }
}

// A schema the file names for itself is never read: only the caller's schema judges it.
TEST_F(HostXml, SchemaHintsOfTheFileAreIgnored) {
    write_file(m_dir / "one_name.xsd", schema("1"));
    const std::string file = m_dir / "hint.xml";
    std::string text = two_names;
    text.replace(text.find("<FLASH "), 7,
                 "<FLASH xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                 "xsi:noNamespaceSchemaLocation=\"" +
                     m_dir / "one_name.xsd" + "\" ");
    write_file(file, text);
    EXPECT_EQ(check(file), "");
}

TEST_F(HostXml, ElementLinesIndexEverySameNamedSibling) {
    const std::string file = m_dir / "lines.xml";
    write_file(file, "<R>\n<A/>\n<B>\n<A/><A/>\n</B>\n<A>\n<A/></A></R>\n");
    const std::map<std::string, unsigned> expected = {
        {"R[1]", 1},           {"R[1]/A[1]", 2}, {"R[1]/B[1]", 3},     {"R[1]/B[1]/A[1]", 4},
        {"R[1]/B[1]/A[2]", 4}, {"R[1]/A[2]", 6}, {"R[1]/A[2]/A[1]", 7}};
    EXPECT_EQ(PGM_COMMON_XML::element_lines(file), expected);
    EXPECT_TRUE(PGM_COMMON_XML::element_lines(m_dir / "missing.xml").empty());
}

TEST_F(HostXml, XIncludeIsNotFollowed) {
    const std::string secret = m_dir / "secret.txt";
    write_file(secret, "TOP-SECRET-CONTENT");
    const std::string file = m_dir / "include.xml";
    write_file(file,
               "<FLASH version=\"1\" xmlns:xi=\"http://www.w3.org/2001/XInclude\">"
               "<NAME><xi:include href=\"" +
                   secret +
                   "\" parse=\"text\"/></NAME>"
                   "<DELAY>1</DELAY></FLASH>\n");
    PARSED parsed = parse(file, "", true);
    ASSERT_EQ(parsed.root->get_child_count(PGM_COMMON_XML_ENUM_NAME), 1u);
    EXPECT_EQ(parsed.root->get_childs(PGM_COMMON_XML_ENUM_NAME)[0]->get_value_text(), "");
    EXPECT_EQ(parsed.error.find("TOP-SECRET"), std::string::npos);
}

std::unique_ptr<TEST_ROOT> sample_tree() {
    auto root = std::make_unique<TEST_ROOT>();
    root->write_attribute_value("version", 3);
    root->write_attribute_enum("type", PGM_COMMON_XML_ENUM_WRITE_REG);
    auto* name = new TEST_NAME;
    name->write_string("Read <status> & \"flags\"");
    root->add_child(name, nullptr);
    root->add_child(new TEST_NAME, nullptr);  // an empty value is still written
    auto* delay = new TEST_DELAY;
    delay->write_value(4294967295u);
    delay->write_attribute_string("unit", "ms");
    root->add_child(delay, nullptr);
    return root;
}

TEST_F(HostXml, WrittenFilesReadBackTheSame) {
    const std::string file = m_dir / "pgm_flash_round.xml";
    write_file(file, "old");
    auto tree = sample_tree();
    ASSERT_TRUE(PGM_COMMON_XML::write_xml(tree.get(), file));

    const std::string text = read_file(file);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FLASH", 0), 0u) << text;
    EXPECT_NE(text.find("\n  <NAME>"), std::string::npos) << text;  // indented
    EXPECT_EQ(check(file), "");

    PARSED parsed = parse(file, m_xsd, false);
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.warning, "");
    auto* root = dynamic_cast<TEST_ROOT*>(parsed.root.get());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->version, 3u);
    EXPECT_EQ(root->type, PGM_COMMON_XML_ENUM_WRITE_REG);
    ASSERT_EQ(root->names.size(), 2u);
    EXPECT_EQ(static_cast<TEST_NAME*>(root->names[0])->value, "Read <status> & \"flags\"");
    EXPECT_EQ(static_cast<TEST_NAME*>(root->names[1])->value, "");
    EXPECT_TRUE(root->names[1]->has_value());
    ASSERT_EQ(root->delays.size(), 1u);
    EXPECT_EQ(static_cast<TEST_DELAY*>(root->delays[0])->value, 4294967295u);
    EXPECT_EQ(static_cast<TEST_DELAY*>(root->delays[0])->unit, "ms");

    // No temporary file is left behind.
    EXPECT_EQ(gfpdb_test::listing(m_dir.path()),
              (std::vector<std::string>{"pgm_flash_round.xml", "test.xsd"}));
}

TEST_F(HostXml, DefaultsAreWrittenForUnsetAttributes) {
    TEST_ROOT root;
    root.add_child(new TEST_NAME, nullptr);
    root.add_child(new TEST_DELAY, nullptr);
    const std::string file = m_dir / "defaults.xml";
    ASSERT_TRUE(PGM_COMMON_XML::write_xml(&root, file));
    const std::string text = read_file(file);
    EXPECT_NE(text.find("<FLASH version=\"1\" type=\"_INVALID__\">"), std::string::npos) << text;
    EXPECT_NE(text.find("<DELAY unit=\"us\">0</DELAY>"), std::string::npos) << text;
}

TEST_F(HostXml, FailedWriteLeavesTheOldFile) {
    auto tree = sample_tree();
    EXPECT_FALSE(PGM_COMMON_XML::write_xml(tree.get(), m_dir / "missing/pgm_flash_x.xml"));
    EXPECT_FALSE(PGM_COMMON_XML::write_xml(nullptr, m_dir / "null.xml"));
    // A file size limit fails the write for any user, root included.
    const std::string file = m_dir / "pgm_flash_x.xml";
    write_file(file, "old content");
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit tiny = saved;
    tiny.rlim_cur = 16;
    std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &tiny);
    const bool written = PGM_COMMON_XML::write_xml(tree.get(), file);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(written);
    EXPECT_EQ(read_file(file), "old content");
    EXPECT_EQ(gfpdb_test::listing(m_dir.path()).size(), 2u) << "the temporary file is gone";
}

}  // namespace
