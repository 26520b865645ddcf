// User files that attack the loader (what reaches outside is refused by the XML layer, whose
// own tests show it): entity bombs, deep nesting, foreign encodings, truncated and empty files,
// things that are not files, and actions whose children the schema cannot tie to their type. The
// file is named where it is refused, and its devices are dropped as the loading rules say.
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "pgm/gfpdb/gfpdb_sdmmc_mgr.h"
#include "support/qspi_fixture.h"

namespace {

using namespace gfpdb_test;

// ---------------------------------------------------------------------------------------------
// Documents

const std::string utf8_declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

std::string card_xml(const std::string& name, const std::string& density = "16GB") {
    return "<FLASH><DEVICE_INFO><DEVICE_NAME>" + name +
           "</DEVICE_NAME><DEVICE_IO_VOLTAGE>1.8V</DEVICE_IO_VOLTAGE><DEVICE_DENSITY>" + density +
           "</DEVICE_DENSITY></DEVICE_INFO></FLASH>\n";
}

// Everything the two formats differ in, so that one hostile document serves both managers.
struct FORMAT {
    const char* label;
    const char* root;
    std::string (*device)(const std::string& name);
};

const FORMAT qspi = {"QSPI", "QSPI_FLASH",
                     [](const std::string& name) { return device_xml(name); }};
const FORMAT sdmmc = {"SD/MMC", "SDMMC_FLASH",
                      [](const std::string& name) { return card_xml(name); }};

std::string file_of(const FORMAT& format, const std::string& body,
                    const std::string& prolog = utf8_declaration) {
    return prolog + "<" + format.root + " version=\"1\">\n" + body + "</" + format.root + ">\n";
}

// ASCII text as UTF-16 with a byte-order mark.
std::string utf16(const std::string& ascii, bool little_endian) {
    std::string out = little_endian ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : ascii) {
        out += little_endian ? std::string{c, '\0'} : std::string{'\0', c};
    }
    return out;
}

std::string nested(const std::string& element, int depth, const std::string& inner = "") {
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "<" + element + ">";
    text += inner;
    for (int i = 0; i < depth; ++i)
        text += "</" + element + ">";
    return text;
}

std::string entity_bomb(const FORMAT& format) {
    std::string dtd = "<!DOCTYPE " + std::string(format.root) + " [\n<!ENTITY l0 \"lol\">\n";
    for (int i = 1; i <= 10; ++i) {
        dtd += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j)
            dtd += "&l" + std::to_string(i - 1) + ";";
        dtd += "\">\n";
    }
    return file_of(format, format.device("&l10;"), utf8_declaration + dtd + "]>\n");
}

// ---------------------------------------------------------------------------------------------
// Fixture

class HostileFiles : public QSPI_DB_TEST {
protected:
    void SetUp() override {
        QSPI_DB_TEST::SetUp();
        cfg_set_value("pgm_enable_custom_sdmmc", true);
    }

    // Whether a manager of the format, loaded now, has the device.
    bool loads(const FORMAT& format, const std::string& name) {
        if (&format == &qspi)
            return load()->device_exist_in_db(name, true);
        GFPDB_SDMMC_MGR mgr;
        return mgr.device_exist_in_db(name, true);
    }

    // The debug line that skips a file of the custom folder; it names the file, then says why.
    static std::string skip_line(const MESSAGE_RECORDER& recorder, const std::string& name) {
        const std::string head = "Skip " + name + " due to parsing error: ";
        for (const std::string& line : recorder.debug) {
            if (line.compare(0, head.size(), head) == 0)
                return line;
        }
        return "";
    }

    void expect_skipped(const MESSAGE_RECORDER& recorder, const std::string& name,
                        const std::string& reason = "") {
        const std::string line = skip_line(recorder, name);
        ASSERT_FALSE(line.empty()) << name << " was not skipped";
        EXPECT_NE(line.find(custom_dir() + name), std::string::npos) << line.substr(0, 300);
        EXPECT_NE(line.find(reason), std::string::npos) << line.substr(0, 300);
    }
};

// ---------------------------------------------------------------------------------------------
// Documents that cost: every one is refused and named, in both formats

struct HOSTILE {
    const char* name;
    std::string (*make)(const FORMAT& format);
    const char* reason;  // what the skip line says, where it is ours to say
};

const HOSTILE hostile_documents[] = {
    {"pgm_flash_bomb.xml", entity_bomb, "a DOCTYPE is not allowed"},
    {"pgm_flash_deep.xml",
     [](const FORMAT& format) { return file_of(format, nested("FLASH", 100000)); }, ""},
    {"pgm_flash_deep_value.xml",
     [](const FORMAT& format) { return file_of(format, format.device(nested("B", 5000, "x"))); },
     ""},
    {"pgm_flash_empty.xml", [](const FORMAT&) { return std::string(); }, ""},
    {"pgm_flash_binary.xml", [](const FORMAT&) { return std::string("\x00\x01\xFF\xFE\x80", 5); },
     ""},
    {"pgm_flash_latin1.xml",
     [](const FORMAT& format) { return file_of(format, format.device("caf\xE9")); }, ""},
    {"pgm_flash_unknown_encoding.xml",
     [](const FORMAT& format) {
         return file_of(format, format.device("X"),
                        "<?xml version=\"1.0\" encoding=\"X-NO-SUCH\"?>\n");
     },
     ""},
    {"pgm_flash_cut_utf16.xml",
     [](const FORMAT& format) {
         const std::string whole = utf16(file_of(format, format.device("CUT"), ""), true);
         return whole.substr(0, whole.size() / 2 | 1);  // mid-document, mid-character
     },
     ""},
    {"pgm_flash_other_root.xml",
     [](const FORMAT& format) {
         return file_of(&format == &qspi ? sdmmc : qspi, format.device("OTHER"));
     },
     ""},
};

class HostileDocuments : public HostileFiles,
                         public ::testing::WithParamInterface<const FORMAT*> {};

TEST_P(HostileDocuments, AreSkippedNamedAndBounded) {
    const FORMAT& format = *GetParam();
    for (const HOSTILE& h : hostile_documents)
        write_file(custom_dir() + h.name, h.make(format));
    write_file(custom_dir() + "pgm_flash_z_good.xml", file_of(format, format.device("GOOD")));
    MESSAGE_RECORDER recorder;
    EXPECT_TRUE(loads(format, "GOOD"));
    EXPECT_TRUE(recorder.posted.empty());
    for (const HOSTILE& h : hostile_documents) {
        SCOPED_TRACE(h.name);
        expect_skipped(recorder, h.name, h.reason);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, HostileDocuments, ::testing::Values(&qspi, &sdmmc),
                         [](const ::testing::TestParamInfo<const FORMAT*>& format) {
                             return std::string(format.param == &qspi ? "Qspi" : "Sdmmc");
                         });

// ---------------------------------------------------------------------------------------------
// Values

// A name is not held to the editor's rule, but it must name a file and be found again: an empty
// one could never be looked up or deleted, and a separator would save outside the folder. Such a
// device is refused like an invalid value, naming the file; such a template alone is dropped.
TEST_F(HostileFiles, NamesThatCannotNameAFileAreRefused) {
    write_custom_file("pgm_flash_a.xml", device_xml("KEPT") + device_xml("") + device_xml("LOST"));
    write_custom_file("pgm_flash_b.xml", device_xml("sub/../dev"));
    write_custom_file("pgm_flash_c.xml", template_xml("") + template_xml("Flow_ok"));
    write_file(custom_dir() + "pgm_flash_d.xml", file_of(sdmmc, card_xml("") + card_xml("LOST")));
    MESSAGE_RECORDER recorder;
    auto mgr = load();
    EXPECT_EQ(recorder.ids(), (std::vector<unsigned>{20473, 20473, 20673}));
    const std::string files[] = {"pgm_flash_a.xml", "pgm_flash_b.xml", "pgm_flash_c.xml"};
    for (size_t i = 0; i < recorder.posted.size() && i < std::size(files); ++i)
        EXPECT_NE(recorder.posted[i].text.find("(in " + custom_dir() + files[i] + ")"),
                  std::string::npos)
            << recorder.posted[i].text;
    EXPECT_TRUE(mgr->device_exist_in_db("KEPT", true));
    EXPECT_FALSE(mgr->device_exist_in_db("LOST", true));
    EXPECT_EQ(mgr->m_flash_db_custom_dir_map.size(), 1u);
    EXPECT_EQ(mgr->get_user_template_list(), std::vector<std::string>{"Flow_ok"});

    recorder.clear();
    GFPDB_SDMMC_MGR cards;
    EXPECT_EQ(recorder.ids(), std::vector<unsigned>{20473});
    EXPECT_FALSE(cards.device_exist_in_db("LOST", true));
}

// ---------------------------------------------------------------------------------------------
// Actions

std::string child_xml(const CHILD& child) {
    const std::string element = child.element;
    return "<" + element + (element == "DELAY" ? " unit=\"us\"" : "") + ">" + child.value + "</" +
           element + ">";
}

// An action of the type with every child but `missing` (null: all of them), and the
// children of `extra` (the children of another type) besides.
std::string action_xml(const ACTION_TYPE& type, const char* missing,
                       const ACTION_TYPE* extra = nullptr) {
    std::string text = "<ACTION type=\"" + std::string(type.type) + "\">";
    std::vector<std::string> present;
    for (const CHILD& child : type.children) {
        if (!missing || std::string(child.element) != missing) {
            text += child_xml(child);
            present.push_back(child.element);
        }
    }
    for (const CHILD& child : extra ? extra->children : std::vector<CHILD>()) {
        if (std::find(present.begin(), present.end(), child.element) == present.end())
            text += child_xml(child);
    }
    return text + "</ACTION>\n";
}

// The schema lets an action carry any of the sixteen children, so one that lacks a child of
// its type gets past it; the loader refuses it with the warning of the missing property,
// naming the element and the file, and drops the device or template that holds it.
TEST_F(HostileFiles, ActionLackingAChildOfItsTypeDropsItsDeviceOrTemplate) {
    struct CASE {
        std::string file;
        std::string element;
        unsigned warning;
    };
    std::vector<CASE> cases;
    for (const ACTION_TYPE& type : action_types) {
        for (const CHILD& child : type.children) {
            const std::string id = std::string(type.type) + "_" + child.element;
            DEVICE_XML device{"D_" + id};
            device.sfl_erase_actions = action_xml(type, child.element);
            cases.push_back({"pgm_flash_" + id + ".xml", child.element, child.warning});
            write_custom_file(cases.back().file, device_xml(device));
            cases.push_back({"pgm_flash_template_" + id + ".xml", child.element, child.warning});
            write_custom_file(cases.back().file,
                              template_xml("T_" + id, action_xml(type, child.element)));
        }
    }
    // Every type whole, each with the children of the next type besides, which it ignores.
    std::string complete;
    for (size_t i = 0; i < std::size(action_types); ++i)
        complete +=
            action_xml(action_types[i], nullptr, &action_types[(i + 1) % std::size(action_types)]);
    DEVICE_XML whole{"WHOLE"};
    whole.sfl_erase_actions = complete;
    write_custom_file("pgm_flash_whole.xml", device_xml(whole) + template_xml("Whole", complete));

    MESSAGE_RECORDER recorder;
    auto mgr = load();
    ASSERT_EQ(recorder.posted.size(), cases.size());
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string text = "(no " + c.element + " element in " + custom_dir() + c.file + ")";
        auto posted = std::find_if(recorder.posted.begin(), recorder.posted.end(),
                                   [&](const MESSAGE_RECORDER::POSTED& p) {
                                       return p.text.find(text) != std::string::npos;
                                   });
        ASSERT_NE(posted, recorder.posted.end());
        EXPECT_EQ(posted->id, c.warning);
    }
    EXPECT_EQ(mgr->m_flash_db_custom_dir_map.size(), 1u);
    EXPECT_EQ(mgr->get_user_template_list(), std::vector<std::string>{"Whole"});
    GFPDB_FLASH* flash = mgr->get_flash("WHOLE", true);
    ASSERT_NE(flash, nullptr);
    EXPECT_EQ((*flash->get_operation_list(GFPDB_PROG_FLOW_TYPE_SFL))[GFPDB_OP_TYPE_ERASE]
                  ->get_action_list()
                  ->size(),
              std::size(action_types));
}

// ---------------------------------------------------------------------------------------------
// Things that are not files

TEST_F(HostileFiles, NamesThatAreNoRegularFileAreLeftAlone) {
    ASSERT_EQ(mkfifo((custom_dir() + "pgm_flash_fifo.xml").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", custom_dir() + "pgm_flash_zero.xml");
    fs::create_symlink(custom_dir() + "missing", custom_dir() + "pgm_flash_dangling.xml");
    fs::create_directories(custom_dir() + "pgm_flash_folder.xml");
    write_custom_file("pgm_flash_z_good.xml", device_xml("GOOD"));
    MESSAGE_RECORDER recorder;
    auto mgr = load();
    EXPECT_TRUE(recorder.posted.empty());
    EXPECT_TRUE(mgr->device_exist_in_db("GOOD", true));
    // None of them is even opened as a database file.
    for (const char* name : {"pgm_flash_fifo.xml", "pgm_flash_zero.xml", "pgm_flash_dangling.xml",
                             "pgm_flash_folder.xml"}) {
        EXPECT_EQ(std::count(recorder.debug.begin(), recorder.debug.end(),
                             "Parsing XML file in custom directory: " + custom_dir() + name),
                  0)
            << name;
    }
}

}  // namespace
