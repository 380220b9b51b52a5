#include "projects/projectlist.h"

#include "projects/project.h"

#include <QHash>
#include <algorithm>

TProjectList::TProjectList() = default;
TProjectList::~TProjectList() = default;

QList<int> TProjectList::MatchTitle(const std::vector<TProjectRow> &rows, const QString &sTitle)
{
    QList<int> matches;
    for (const Qt::CaseSensitivity cs : { Qt::CaseSensitive, Qt::CaseInsensitive }) {
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].Title.compare(sTitle, cs) == 0)
                matches << int(i);
        }
        if (!matches.isEmpty())
            break;
    }
    return matches;
}

std::unique_ptr<TProject> TProjectList::Create(const TProjectRow &row)
{
    return CreateProject(row.Kind, row.ID, row.Title, row.FileName);
}

void TProjectList::Clear()
{
    FItems.clear();
}

void TProjectList::Load()
{
    const std::vector<TProjectRow> rows = TProjectStore::Rows();
    Clear();
    FItems.reserve(rows.size());
    for (const TProjectRow &row : rows)
        FItems.push_back(TItem { Create(row) });
}

QList<TProject *> TProjectList::LoadTitled(const QStringList &lTitles)
{
    const std::vector<TProjectRow> rows = TProjectStore::Rows();
    QList<QList<int>> matches;
    for (const QString &sTitle : lTitles) {
        matches << MatchTitle(rows, sTitle);
        if (matches.last().isEmpty())
            throw ENoSuchProject(sTitle);
    }

    Clear();
    // Each project once, in table order, however many titles name it.
    QHash<int, TProject *> objects;
    for (size_t i = 0; i < rows.size(); ++i) {
        const bool bNamed = std::any_of(matches.cbegin(), matches.cend(),
                                        [i](const QList<int> &m) { return m.contains(int(i)); });
        if (!bNamed)
            continue;
        FItems.push_back(TItem { Create(rows[i]) });
        objects.insert(int(i), FItems.back().oProject.get());
    }
    QList<TProject *> selected;
    for (const QList<int> &m : matches) {
        for (const int i : m)
            selected << objects.value(i);
    }
    return selected;
}

void TProjectList::Parse()
{
    for (int i = 0; i < Count(); ++i) {
        if (!FItems[size_t(i)].bParsed)
            ParseAt(i);
    }
}

void TProjectList::ParseAt(int iIndex)
{
    TItem &item = FItems.at(size_t(iIndex));
    item.oProject->Parse();
    item.bParsed = true;
    item.iSendTasks = TProjectStore::SendTaskCount(item.oProject->ProjectID());
}

bool TProjectList::Parsed(int iIndex) const
{
    return FItems.at(size_t(iIndex)).bParsed;
}

void TProjectList::Adopt(int iIndex, std::unique_ptr<TProject> oProject, int iSendTasks)
{
    TItem &item = FItems.at(size_t(iIndex));
    item.oProject = std::move(oProject);
    item.iSendTasks = iSendTasks;
    item.bParsed = true;
}

std::vector<TProjectRow> TProjectList::Rows() const
{
    std::vector<TProjectRow> rows;
    rows.reserve(FItems.size());
    for (const TItem &item : FItems)
        rows.push_back({ item.oProject->ProjectID(), item.oProject->Kind(), item.oProject->Title(),
                         item.oProject->ProjectFile() });
    return rows;
}

void TProjectList::SortByTitle()
{
    std::stable_sort(FItems.begin(), FItems.end(), [](const TItem &a, const TItem &b) {
        return a.oProject->Title().compare(b.oProject->Title(), Qt::CaseInsensitive) < 0;
    });
}

TProject *TProjectList::At(int iIndex) const
{
    return FItems.at(size_t(iIndex)).oProject.get();
}

int TProjectList::IndexOf(const TProject *oProject) const
{
    for (int i = 0; i < Count(); ++i) {
        if (FItems[size_t(i)].oProject.get() == oProject)
            return i;
    }
    return -1;
}

int TProjectList::IndexOfID(int iProjectID) const
{
    for (int i = 0; i < Count(); ++i) {
        if (FItems[size_t(i)].oProject->ProjectID() == iProjectID)
            return i;
    }
    return -1;
}

int TProjectList::Append(std::unique_ptr<TProject> oProject, bool bParsed)
{
    TItem item { std::move(oProject) };
    item.bParsed = bParsed;
    item.iSendTasks = TProjectStore::SendTaskCount(item.oProject->ProjectID());
    FItems.push_back(std::move(item));
    return Count() - 1;
}

void TProjectList::RemoveAt(int iIndex)
{
    FItems.erase(FItems.begin() + iIndex);
}

int TProjectList::SendTasks(int iIndex) const
{
    return FItems.at(size_t(iIndex)).iSendTasks;
}

void TProjectList::RefreshSendTasks(int iIndex)
{
    TItem &item = FItems.at(size_t(iIndex));
    item.iSendTasks = TProjectStore::SendTaskCount(item.oProject->ProjectID());
}

bool TProjectList::InitiallyChecked(int iIndex) const
{
    return SendTasks(iIndex) > 0 && At(iIndex)->ChangedFiles() > 0;
}

bool TProjectList::Enabled(int iIndex) const
{
    return SendTasks(iIndex) > 0 && At(iIndex)->FileCount() > 0;
}

QList<TProject *> TProjectList::Due(bool bAll) const
{
    QList<TProject *> due;
    for (int i = 0; i < Count(); ++i) {
        if (SendTasks(i) > 0 && (bAll || At(i)->ChangedFiles() > 0))
            due << At(i);
    }
    return due;
}

QList<TProject *> TProjectList::Titled(const QStringList &lTitles) const
{
    const std::vector<TProjectRow> rows = Rows();
    QList<TProject *> selected;
    for (const QString &sTitle : lTitles) {
        const QList<int> matches = MatchTitle(rows, sTitle);
        if (matches.isEmpty())
            throw ENoSuchProject(sTitle);
        for (const int i : matches)
            selected << At(i);
    }
    return selected;
}
