#pragma once

// How a password protects an archive entry.
enum class TZipEncryption : int {
    // PKWARE's own cipher: every extractor opens it, but a known piece of
    // plain text (such as a zip's local header) breaks it in minutes.
    Traditional,
    // WinZip AES (AE-2) with a 256-bit key: 7-Zip, WinZip, WinRAR, PeaZip,
    // Keka and bsdtar open it; Windows Explorer and macOS Archive Utility do not.
    Aes256,
};
