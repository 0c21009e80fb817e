#pragma once

#include <memory>

#include "db/dbi/dbi.h"

namespace hcs {

// The ODBC implementation of the database interface: one environment per process (ODBC 3), one
// connection handle per database, manual-commit mode, statements prepared on first execute.
// Character data travels as UTF-16 (SQL_C_WCHAR) both ways so no local code page is involved.
// Results are read with ODBC row arrays (column-wise binding) of the requested size; a result with a
// column wider than 8192 characters (or of unknown width, like long text) is read row by row with
// SQLGetData instead so no value is ever cut.
std::shared_ptr<DBIDatabase> openOdbcDatabase(const DBIConnectParams& params);

}  // namespace hcs

namespace hcs {

// The ODBC driver used for a scheme when the URI names none: the driver's shared object when it is
// installed in one of the usual library folders (so no odbcinst.ini entry is needed), otherwise the
// name Debian registers it under. "" for an unknown scheme.
std::string defaultOdbcDriver(const std::string& scheme);

}  // namespace hcs
