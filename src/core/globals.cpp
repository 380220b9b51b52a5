#include "core/globals.h"

TSQLiteDatabase *DB = nullptr;
QString AppDataDir;
