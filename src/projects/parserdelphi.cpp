#include "projects/parserdelphi.h"

TParserDelphi::TParserDelphi(int iID, const QString &sTitle, const QString &sFilename,
                             TAfterParseEvent oAfterParse)
    : TParser(pkDelphi, iID, sTitle, sFilename, std::move(oAfterParse))
{ }

void TParserDelphi::Parse()
{
    TParser::Parse();
}
