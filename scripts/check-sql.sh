#!/usr/bin/env bash
# Fails when SQL text or the SQLite header turns up in src/ outside the files
# that own the tables. Each table has one owner; everything else goes through
# it, so a statement elsewhere is either a second owner in the making or a
# window talking to the database.
# check-sql.sh [SOURCE_ROOT]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

# Files allowed to hold SQL statements, as paths under src/ (the owners).
sql_owners=(
    core/sqlite.cpp           # the access layer (its error texts name statements by kind)
    core/schema.cpp           # creating and upgrading the tables
    core/settings.cpp         # settings
    data/fdata.cpp            # pruning the log at start-up
    projects/projectstore.cpp # projects, files
    delivery/sendtask.cpp     # send
    delivery/sendtasks.cpp    # sendparams, one row at a time
    delivery/deliverylog.cpp  # log: writing rows, the last delivery
    delivery/logquery.cpp     # log: the viewer's filtered reads
    delivery/retention.cpp    # retention
    diagnostics/diaglog.cpp   # the diagnostics day files
)
# Files allowed to include the SQLite C header.
header_owners=(
    core/sqlite.cpp   # the access layer
    core/threaddb.cpp # a connection of the diagnostics thread
    core/dbwait.cpp   # waiting out another program's lock
    app/startup.cpp   # library start and shutdown
)

listed() {
    local file=$1; shift
    local owner
    for owner in "$@"; do
        [[ "$file" == "src/$owner" ]] && return 0
    done
    return 1
}

for owner in "${sql_owners[@]}" "${header_owners[@]}"; do
    [[ -f "src/$owner" ]] || echo "check-sql: note: listed owner src/$owner does not exist" >&2
done

# A string literal holding a statement's opening words. Comment lines are
# not code and may quote statements.
statement='"[^"]*\<(SELECT\>.*\<FROM|INSERT( OR [A-Z]+)? INTO|REPLACE INTO|UPDATE( OR [A-Z]+)? [A-Za-z_]+ SET|DELETE FROM|(CREATE|ALTER|DROP) (TEMP |TEMPORARY )?TABLE)\>'
failed=0
while IFS= read -r -d '' file; do
    if ! listed "$file" "${sql_owners[@]}"; then
        while IFS= read -r hit; do
            echo "$file:${hit%%:*}: SQL outside the owning files: ${hit#*:}" | sed 's/:  */: /'
            failed=1
        done < <(grep -nE "$statement" "$file" | grep -vE '^[0-9]+:[[:space:]]*(//|\*|/\*)' || true)
    fi
    if ! listed "$file" "${header_owners[@]}"; then
        while IFS= read -r hit; do
            echo "$file:${hit%%:*}: the SQLite header outside the database layer: ${hit#*:}"
            failed=1
        done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]sqlite3\.h[>"]' "$file" || true)
    fi
done < <(find src -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.hpp' -o -name '*.cc' \) -print0 | sort -z)

if ((failed)); then
    echo "check-sql: move these statements into the table's owner (listed in scripts/check-sql.sh)" >&2
    exit 1
fi
echo "check-sql: no SQL outside the owning files"
