#pragma once

class TSQLiteDatabase;

// Creates and upgrades the main database's tables, one recorded version step
// at a time (versions 1 to 5).
class TUpdateCheck
{
public:
    // Reads the version, applies the missing steps and reads it again; true
    // when the two differ. A failing statement throws ESQLiteException; the
    // steps already recorded stay recorded.
    static bool UpdateDatabase(TSQLiteDatabase &oDB, int &iOldVersion, int &iNewVersion);

private:
    explicit TUpdateCheck(TSQLiteDatabase &oDB)
        : FDB(oDB)
    { }
    int GetVersion();
    void Upgrade(int v);
    void SetVersion(int n);
    void CreateVersion1();
    void CreateVersion2();
    void CreateVersion3();
    void CreateVersion4();
    void CreateVersion5();

    TSQLiteDatabase &FDB;
};
