#pragma once

#include <QString>

// Text files as the program reads and writes them. Failures raise EOSError.

// Empty when the file does not exist. Otherwise its text: a byte-order mark
// selects UTF-8, UTF-16 LE or BE; without one the bytes are read as UTF-8 when
// valid, else as Windows-1252. Lines (ended by CR LF, LF or CR) are joined with
// CR LF; one final CR LF is dropped. Raises EOSError when an existing file
// cannot be read.
QString LoadTextFile(const QString &sFileName);
// Writes sText as lines (split at CR LF, CR or LF), each ended by CR LF, in
// UTF-8 without a byte-order mark. Returns true; raises EOSError naming the
// file and the system's reason when it cannot be written (an existing file is
// left intact then).
bool SaveTextFile(const QString &sText, const QString &sFileName);
