#pragma once

#include "network/s3settings.h"

#include <QString>
#include <atomic>
#include <functional>

// What the S3 round trip reports through and is stopped by.
struct TS3TestHooks
{
    std::function<void(const QString &sLine, bool bProgress)> Line; // "!" in front: a failure
    std::function<bool()> AbortRequested; // stop after the running step
    const std::atomic<bool> *Cancel = nullptr; // ends a running transfer
};

// The S3 staging test, the settings' "Test" over S3: uploads sFileOne as
// prefix + its name, fetches it back through the link an e-mail kept for
// iPeriod would carry (presigned, or the public address) into sFileTwo,
// compares the two and deletes the object, one line per step. A period
// whose link needs a missing public address fails before the upload; after
// a mismatch the object stays for inspection and the lines say where.
bool RunS3RoundTrip(const TS3Settings &oServer, int iPeriod, const QString &sFileOne, const QString &sFileTwo,
                    const TS3TestHooks &hooks);
