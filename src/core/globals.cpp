#include "core/globals.h"

thread_local TSQLiteDatabase *DB = nullptr;
QString AppDataDir;
