#pragma once

class QComboBox;

// Marks the retention choices a staging link cannot last for: with S3
// staging and no public download address, "one month", "one year" and
// "forever" are disabled and say why (a presigned link lasts at most a
// week). The choices are the retention list, by index; a selected choice
// that is disabled stays selected, and the delivery says why it fails.
void LimitRetentionChoices(QComboBox *cbRetain);
