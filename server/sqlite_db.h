#pragma once
// The SQLite engine lives behind the seam in sql_db.h; this header remains
// for code that still names it.
#include "sql_db.h"
