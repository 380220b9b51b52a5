#pragma once

#include <QByteArrayView>
#include <QString>

// Version records of Windows program files (Delphi IDEs in a Wine prefix).

// "major.minor.release build N" from the fixed version record of a Windows PE
// file; empty when the file has none or cannot be read or is malformed.
QString FileVersionText(const QString &sFileName);
// The same for a PE image already in memory (every read is bounds-checked).
QString PEVersionText(QByteArrayView data);
