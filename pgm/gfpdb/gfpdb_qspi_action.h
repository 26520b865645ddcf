// A QSPI flash command: its properties per action type, their defaults and their rules.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "pgm/gfpdb/gfpdb_mgr.h"

class GFPDB_EXPORT GFPDB_QSPI_ACTION : public GFPDB_ACTION {
public:
    explicit GFPDB_QSPI_ACTION(GFPDB_ACT_TYPE type);
    GFPDB_QSPI_ACTION(const GFPDB_QSPI_ACTION& other);
    GFPDB_QSPI_ACTION& operator=(const GFPDB_QSPI_ACTION& other);

    ~GFPDB_QSPI_ACTION() override;
    const std::string get_property_name(GFPDB_ACT_PROPERTY property) override;
    const std::string get_property_value(GFPDB_ACT_PROPERTY property) override;
    uint32_t get_property_value_in_dword(GFPDB_ACT_PROPERTY property) override;
    unsigned char* get_property_value_in_byte_array(GFPDB_ACT_PROPERTY property, uint32_t* size,
                                                    bool* ok) override;
    const std::vector<std::string> get_property_value_list(GFPDB_ACT_PROPERTY property) override;
    // Stores the text as it is; nothing is validated.
    void set_property_value(GFPDB_ACT_PROPERTY property, std::string value) override;
    // The values of `count` properties from `first` on, stored in one step, as a file's action
    // is loaded; nothing is validated.
    void set_property_values(GFPDB_ACT_PROPERTY first, const std::string_view* values,
                             size_t count);
    // Applies the property's rule to `value`; a rejection always posts its warning.
    bool property_value_is_valid(GFPDB_ACT_PROPERTY property, std::string value,
                                 std::string* error = nullptr) override;
    bool property_value_is_enable(GFPDB_ACT_PROPERTY property) override;
    // property_value_is_valid without a copy of the value, for the loader's thousands.
    bool value_is_valid(GFPDB_ACT_PROPERTY property, const std::string& value, std::string* error);

    // The properties that a file holds as 32-bit numbers (delay, page size, ...).
    static bool property_is_number(GFPDB_ACT_PROPERTY property);
    // The catalogue warning a rejected value of the property posts.
    static GFPDB_MESSAGE_ID property_warning(GFPDB_ACT_PROPERTY property);
};
