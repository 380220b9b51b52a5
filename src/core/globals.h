#pragma once

#include <QString>

class TSQLiteDatabase;

// Process-wide objects every layer reaches by name. Start-up creates them
// and shutdown frees them, in a fixed order.

// The open main database of the calling thread: the data module's connection
// on the user-interface thread, a job's own connection on a job's thread
// (core/job.h); null before the data module exists, after it is gone and on
// threads without a connection.
extern thread_local TSQLiteDatabase *DB;

// The per-user data folder, "$XDG_DATA_HOME/bundlewick/" (always with
// a trailing "/"); empty outside start-up and shutdown. Written only at start
// and end, when no job runs; jobs may read it.
extern QString AppDataDir;
