// One operation of a QSPI programming flow, owning its actions.
#include "pgm/gfpdb/gfpdb_qspi_operation.h"

#include "pgm/gfpdb/gfpdb_internal.h"
#include "pgm/gfpdb/gfpdb_qspi_action.h"

namespace {
const char* const source = "pgm/gfpdb/gfpdb_qspi_operation";
}  // namespace

GFPDB_QSPI_OPERATION::GFPDB_QSPI_OPERATION(GFPDB_OP_TYPE type) {
    m_operation_type = type;
    m_name = GFPDB_SHARED_TEXT::lasting(gfpdb_op_type_name[type]);
    m_description = GFPDB_SHARED_TEXT::lasting(gfpdb_op_type_description[type]);
}

// Not the base's copy, which would share the source's actions.
GFPDB_QSPI_OPERATION::GFPDB_QSPI_OPERATION(const GFPDB_QSPI_OPERATION& other) : GFPDB_OPERATION() {
    *this = other;
}

GFPDB_QSPI_OPERATION& GFPDB_QSPI_OPERATION::operator=(const GFPDB_QSPI_OPERATION& other) {
    if (this == &other)
        return *this;
    gfpdb_delete_last_first(m_action_list);
    m_name = other.m_name;
    m_description = other.m_description;
    m_operation_type = other.m_operation_type;
    m_action_list.reserve(other.m_action_list.size());
    // Only QSPI actions ever enter a QSPI operation (create_action and the loader make them).
    for (GFPDB_ACTION* action : other.m_action_list)
        m_action_list.push_back(new GFPDB_QSPI_ACTION(*static_cast<GFPDB_QSPI_ACTION*>(action)));
    return *this;
}

GFPDB_QSPI_OPERATION::~GFPDB_QSPI_OPERATION() {
    gfpdb_delete_last_first(m_action_list);
}

const std::vector<GFPDB_ACTION*>* GFPDB_QSPI_OPERATION::get_action_list() {
    return &m_action_list;
}

void GFPDB_QSPI_OPERATION::clear_action_list() {
    gfpdb_delete_last_first(m_action_list);
}

void GFPDB_QSPI_OPERATION::add_action_into_list(GFPDB_ACTION* action) {
    GFPDB_ASSERT(action, source);
    m_action_list.push_back(action);
}
