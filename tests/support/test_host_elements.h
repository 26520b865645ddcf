// Test-only element classes for the host's XML tests, registered under a file kind that no
// database uses: a FLASH root with a number and an enumerated attribute, one or two NAME text
// children and exactly one DELAY number child with a "unit" attribute.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"

namespace gfpdb_test {

// 1 is the one unused value inside the enumeration's range (0 to 3): a value outside it would
// not be a valid PGM_COMMON_XML_FILE_ENUM.
const auto TEST_FILE_KIND = static_cast<PGM_COMMON_XML_FILE_ENUM>(1);

class TEST_ROOT : public PGM_COMMON_XML_ELEMENT {
public:
    TEST_ROOT()
        : PGM_COMMON_XML_ELEMENT(PGM_COMMON_XML_ENUM_FLASH, PGM_COMMON_XML_ENUM_FLASH,
                                 PGM_XML_TYPE_NONE, PGM_XML_EXIST_NONE, "", "", nullptr) {
        add_attribute("version", PGM_XML_TYPE_UINT32, PGM_XML_EXIST_REQUIRED, "1", "", &version);
        add_attribute("type", PGM_XML_TYPE_ENUM, PGM_XML_EXIST_REQUIRED, "_INVALID__",
                      "WRITE_REG|ERASE", &type);
        init_check();
    }
    ~TEST_ROOT() override { TEST_ROOT::clear_child_group(); }
    bool check_child_count() override {
        bool ok = check_count(PGM_COMMON_XML_ENUM_NAME, {{1}, {2}});
        ok = check_count(PGM_COMMON_XML_ENUM_DELAY, {{1}}) && ok;
        return PGM_COMMON_XML_ELEMENT::check_child_count() && ok;
    }
    void clear_child_group() override {
        names.clear();
        delays.clear();
    }
    void group_child(PGM_COMMON_XML_ELEMENT* child, bool remove, bool) override {
        if (!remove)
            (child->get_type() == PGM_COMMON_XML_ENUM_NAME ? names : delays).push_back(child);
    }

    std::vector<PGM_COMMON_XML_ELEMENT*> names, delays;
    uint32_t version = 0;
    PGM_COMMON_XML_ENUM type = PGM_COMMON_XML_ENUM__INVALID__;
};

class TEST_NAME : public PGM_COMMON_XML_ELEMENT {
public:
    TEST_NAME()
        : PGM_COMMON_XML_ELEMENT(PGM_COMMON_XML_ENUM_NAME, PGM_COMMON_XML_ENUM_NAME,
                                 PGM_XML_TYPE_STRING, PGM_XML_EXIST_OPTIONAL, "", "", &value) {
        init_check();
    }
    std::string value;
};

class TEST_DELAY : public PGM_COMMON_XML_ELEMENT {
public:
    TEST_DELAY()
        : PGM_COMMON_XML_ELEMENT(PGM_COMMON_XML_ENUM_DELAY, PGM_COMMON_XML_ENUM_DELAY,
                                 PGM_XML_TYPE_UINT32, PGM_XML_EXIST_REQUIRED, "0", "", &value) {
        add_attribute("unit", PGM_XML_TYPE_STRING, PGM_XML_EXIST_REQUIRED, "us", "", &unit);
        init_check();
    }
    uint32_t value = 0;
    std::string unit;
};

// The root first: the first kind registered for a file kind is its root.
inline void register_test_elements() {
    PGM_COMMON_XML::register_element_factory(
        TEST_FILE_KIND, PGM_COMMON_XML_ENUM_FLASH,
        []() -> PGM_COMMON_XML_ELEMENT* { return new TEST_ROOT; });
    PGM_COMMON_XML::register_element_factory(
        TEST_FILE_KIND, PGM_COMMON_XML_ENUM_NAME,
        []() -> PGM_COMMON_XML_ELEMENT* { return new TEST_NAME; });
    PGM_COMMON_XML::register_element_factory(
        TEST_FILE_KIND, PGM_COMMON_XML_ENUM_DELAY,
        []() -> PGM_COMMON_XML_ELEMENT* { return new TEST_DELAY; });
}

}  // namespace gfpdb_test
