// Every interface of the standalone host that the flash database calls, and its control
// points.
#pragma once

#include "host/cfg.h"
#include "host/fio.h"
#include "host/mem.h"
#include "host/msg.h"
#include "host/pgm_common.h"
#include "host/pgm_common_xml.h"
#include "host/pgm_common_xml_enum.h"
#include "host/pgmdev.h"
#include "pgm/h/pgm_common_xml_export.h"
