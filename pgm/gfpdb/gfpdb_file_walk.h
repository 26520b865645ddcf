// A parsed flash file walked as its loader reads it: the golden templates' flows, then each
// device's values and flows, then each user template's flows, every value with its place
// ("device NAME", "template NAME, SFL 2.3") and its line. What to make of a value is the
// caller's: the host folder check stops at the first refusal, the command's check reports all.
#pragma once

#include <map>
#include <string>

#include "host/pgm_common_xml.h"
#include "pgm/gfpdb/gfpdb_export.h"
#include "pgm/gfpdb/gfpdb_mgr.h"

class GFPDB_EXPORT GFPDB_FILE_WALK {
public:
    // An element of the file with its path in the form of PGM_COMMON_XML::element_lines.
    struct ELEMENT {
        const PGM_COMMON_XML_ELEMENT* element;
        std::string path;
    };

    // `manager` supplies the validators and tells QSPI from SD/MMC; nothing is loaded into it.
    GFPDB_FILE_WALK(GFPDB_MGR& manager, const std::string& file)
        : m_manager(manager), m_file(file) {}
    virtual ~GFPDB_FILE_WALK() = default;
    GFPDB_FILE_WALK(const GFPDB_FILE_WALK&) = delete;
    GFPDB_FILE_WALK& operator=(const GFPDB_FILE_WALK&) = delete;

    void walk(const PGM_COMMON_XML_ELEMENT* root);

protected:
    // The hooks, in the walk's order. `leaf` has no element when the file lacks it.
    virtual void device_value(const ELEMENT& /*leaf*/, GFPDB_FLASH_PARAM, const std::string&) {}
    // A device after its values, before its flows; `info` is its DEVICE_INFO.
    virtual void device(const ELEMENT& /*info*/, const ELEMENT& /*name*/, const std::string&) {}
    virtual void device_end(const ELEMENT& /*name*/, const std::string&) {}
    virtual void user_template(const ELEMENT& /*name*/, const std::string&) {}
    virtual void unknown_action_type(const ELEMENT&, const std::string& /*type*/,
                                     const std::string&) {}
    // The action lacks the element of `property`.
    virtual void missing_property(const ELEMENT& /*action*/, GFPDB_ACT_PROPERTY,
                                  const std::string&) {}
    // `model` is an action of the walked one's type, for its validators and value lists.
    virtual void property_value(const ELEMENT&, GFPDB_ACTION& /*model*/, GFPDB_ACT_PROPERTY,
                                const std::string&) {}
    // True stops the walk before the next device.
    virtual bool stopped() const { return false; }

    // The device value validator with the text as loading reads it (numbers in decimal).
    bool device_value_is_valid(GFPDB_FLASH_PARAM param, const std::string& text,
                               std::string* error) const;
    // The line of `at`, 0 when unknown; the file is read for lines only when one is asked for.
    unsigned line_of(const ELEMENT& at);
    static std::string text_of(const ELEMENT& at);
    static ELEMENT first(const ELEMENT& parent, PGM_COMMON_XML_ENUM kind);

    GFPDB_MGR& m_manager;
    const std::string m_file;

private:
    void flows(const ELEMENT& owner, const std::string& place);
    void action(const ELEMENT& action, const std::string& place);

    std::map<std::string, unsigned> m_lines;
};
