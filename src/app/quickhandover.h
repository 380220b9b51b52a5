#pragma once

#include <QStringList>

// Hands files for quick send to the desktop program that already runs, so
// that "bundlewick send FILE..." opens quick send there. True when the
// running instance took them.
//
// Placeholder until the single-instance handover exists: it always answers
// false, and the second start then says that Bundlewick is already open.
bool HandOverToRunningInstance(const QStringList &files);
