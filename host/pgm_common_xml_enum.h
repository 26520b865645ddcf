// The XML document library's element and value kinds. The numbers are fixed: database files
// and the element classes name kinds by them.
#pragma once

#include <string>

#include "host/host_export.h"

// X(member suffix = XML name, number)
#define PGM_COMMON_XML_ENUM_LIST(X)   \
    X(_INVALID__, 0)                  \
    X(SDM, 8)                         \
    X(ADDRESS, 217)                   \
    X(DATA, 291)                      \
    X(WRITE_REG, 334)                 \
    X(READ_REG, 335)                  \
    X(WRITE_DATA, 336)                \
    X(READ_DATA, 337)                 \
    X(ERASE, 338)                     \
    X(CUSTOM, 339)                    \
    X(GOLDEN_TEMPLATE, 340)           \
    X(CYPRESS, 341)                   \
    X(PROGRAMMING_FLOW, 342)          \
    X(TERMINATION, 343)               \
    X(ACTION, 344)                    \
    X(EXPECTED_DATA_MASK, 345)        \
    X(EXPECTED_DATA, 346)             \
    X(NAME, 347)                      \
    X(DATA_LENGTH, 348)               \
    X(DIRECTION, 349)                 \
    X(ATTEMPT_COUNT, 350)             \
    X(ERASE_SIZE, 351)                \
    X(DELAY, 352)                     \
    X(COMMAND, 353)                   \
    X(PAGE_SIZE, 354)                 \
    X(ADDRESSING_MODE, 355)           \
    X(ACT_DUMMY_CLOCK_CYCLE, 356)     \
    X(BUS_WIDTH, 357)                 \
    X(DESCRIPTION, 358)               \
    X(INITIALIZATION, 359)            \
    X(PROGRAM, 360)                   \
    X(VERIFY_BLANKCHECK_EXAMINE, 361) \
    X(SFL, 362)                       \
    X(MICRON, 363)                    \
    X(MACRONIX, 364)                  \
    X(WINBOND, 365)                   \
    X(FLASH, 366)                     \
    X(DEVICE_INFO, 367)               \
    X(TOTAL_DEVICE_DIE, 368)          \
    X(DUMMY_CLOCK_CYCLE_X4, 369)      \
    X(PROG_FLOW_TEMPLATE, 370)        \
    X(DEVICE_NAME, 371)               \
    X(DUMMY_CLOCK_CYCLE, 372)         \
    X(DEVICE_ID, 373)                 \
    X(DEVICE_IO_VOLTAGE, 374)         \
    X(DEVICE_DENSITY, 375)            \
    X(USER_TEMPLATE, 376)             \
    X(TEMPLATE_NAME, 377)             \
    X(QSPI_FLASH, 378)                \
    X(SDMMC_FLASH, 379)

enum PGM_COMMON_XML_ENUM {
#define PGM_COMMON_XML_ENUM_MEMBER(name, number) PGM_COMMON_XML_ENUM_##name = number,
    PGM_COMMON_XML_ENUM_LIST(PGM_COMMON_XML_ENUM_MEMBER)
#undef PGM_COMMON_XML_ENUM_MEMBER
};

// The XML name of a kind ("" for a number that is no kind).
HOST_EXPORT const char* pgm_common_xml_enum_name(PGM_COMMON_XML_ENUM kind);
// The kind of an XML name; false when the name is no kind.
HOST_EXPORT bool pgm_common_xml_enum_from_name(const std::string& name, PGM_COMMON_XML_ENUM* kind);
