#pragma once

#include <QString>

class TSQLiteDatabase;

// Process-wide objects every layer reaches by name. Start-up creates them
// and shutdown frees them, in a fixed order.

// The open main database; null before the data module exists and after it
// is gone.
extern TSQLiteDatabase *DB;

// The per-user data folder, "$XDG_DATA_HOME/bundlewick/" (always with
// a trailing "/"); empty outside start-up and shutdown.
extern QString AppDataDir;
