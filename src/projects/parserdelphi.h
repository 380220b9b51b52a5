#pragma once

#include "projects/parser.h"

// Delphi project (kind 1): the project file is parsed for the files it needs
// before the hand-added entries are read.
class TParserDelphi : public TParser
{
public:
    TParserDelphi(int iID, const QString &sTitle, const QString &sFilename,
                  TAfterParseEvent oAfterParse = nullptr);

    void Parse() override;
};
