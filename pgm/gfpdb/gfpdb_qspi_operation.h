// One operation of a QSPI programming flow; it owns its actions.
#pragma once

#include <vector>

#include "pgm/gfpdb/gfpdb_mgr.h"

class GFPDB_EXPORT GFPDB_QSPI_OPERATION : public GFPDB_OPERATION {
public:
    explicit GFPDB_QSPI_OPERATION(GFPDB_OP_TYPE type);
    // Deep: the copy owns copies of the actions.
    GFPDB_QSPI_OPERATION(const GFPDB_QSPI_OPERATION& other);
    // Deep as well; the target's old actions are deleted.
    GFPDB_QSPI_OPERATION& operator=(const GFPDB_QSPI_OPERATION& other);

    ~GFPDB_QSPI_OPERATION() override;
    const std::vector<GFPDB_ACTION*>* get_action_list() override;
    void clear_action_list() override;
    void add_action_into_list(GFPDB_ACTION* action) override;
};
