#!/usr/bin/env bash
# bench_cli.sh [BUNDLEWICK] [RUNS] [TREE_FILES]: whole-process timings of the
# command line.
#   list on an empty database; list with 500 projects of 20 entries each;
#   deliver of one of those projects to a File task folder; list of one
#   wildcard project over a tree of TREE_FILES files (100,000 by default),
#   side by side with "find DIR -newer STAMP" over the same tree.
# Prints the median and the fastest run of each, in milliseconds. Everything
# happens in a temporary sandbox (XDG folders, HOME and TMPDIR point there).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$here/build/src/app/bundlewick}
runs=${2:-15}
tree_files=${3:-100000}
py=/usr/bin/python3
[ -x "$bin" ] || { echo "no program at $bin" >&2; exit 1; }

sandbox=$(mktemp -d)
trap 'rm -rf "$sandbox"' EXIT
export XDG_DATA_HOME=$sandbox/data XDG_CONFIG_HOME=$sandbox/config HOME=$sandbox/home TMPDIR=$sandbox/tmp
export QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$HOME" "$TMPDIR"
db=$XDG_DATA_HOME/bundlewick/bundlewick.sqlite

# time_ms LABEL COMMAND...: runs the command $runs times (after one warm-up)
# and prints the median and fastest wall-clock time and the median processor
# time (user + system, which a loaded machine inflates far less).
time_ms() {
    local label=$1; shift
    "$@" >/dev/null 2>&1 || true
    local rows=()
    local TIMEFORMAT='%3U %3S'
    for ((i = 0; i < runs; i++)); do
        local t0 t1 cpu
        t0=$(date +%s%N)
        cpu=$( { time "$@" >/dev/null 2>&1; } 2>&1 | tail -1 ) || true
        t1=$(date +%s%N)
        rows+=("$(( (t1 - t0) / 1000 )) $cpu")
    done
    printf '%s\n' "${rows[@]}" | "$py" -c '
import statistics, sys
label = sys.argv[1]
rows = [line.split() for line in sys.stdin if line.strip()]
wall = sorted(int(r[0]) / 1000 for r in rows)
cpu = sorted((float(r[1]) + float(r[2])) * 1000 for r in rows)
print("%-36s wall median %7.1f ms  fastest %7.1f ms   cpu median %7.1f ms  (%d runs)"
      % (label, statistics.median(wall), wall[0], statistics.median(cpu), len(rows)))' "$label"
}

echo "program: $bin"
# The first start creates the data folder and the database.
"$bin" list >/dev/null
time_ms "list, empty database" "$bin" list

# 500 Generic projects of 20 file entries each, one with a File task.
mkdir -p "$sandbox/src" "$sandbox/out"
for i in $(seq -w 1 20); do echo "source file $i" > "$sandbox/src/unit$i.pas"; done
"$py" - "$db" "$sandbox" <<'PY'
import sqlite3, sys
db, root = sys.argv[1:3]
con = sqlite3.connect(db)
cur = con.cursor()
for p in range(1, 501):
    cur.execute("INSERT INTO projects (type, title, filename, senddate, modified) "
                "VALUES (0, ?, '', NULL, DATETIME('NOW'))", ("Project %03d" % p,))
    pid = cur.lastrowid
    for f in range(1, 21):
        cur.execute("INSERT INTO files (id_projects, filename, modified) VALUES (?, ?, DATETIME('NOW'))",
                    (pid, "%s/src/unit%02d.pas" % (root, f)))
    if p == 1:
        cur.execute("INSERT INTO send (id_projects, type, zippassword, modified) "
                    "VALUES (?, 1, '', DATETIME('NOW'))", (pid,))
        cur.execute("INSERT INTO sendparams (id_send, name, value, modified) "
                    "VALUES (?, 'FileFolder', ?, DATETIME('NOW'))", (cur.lastrowid, root + "/out"))
con.commit()
PY
time_ms "list, 500 projects x 20 entries" "$bin" list
time_ms "deliver one project to a folder" "$bin" deliver "Project 001"
ls "$sandbox/out" | grep -c '\.zip$' | sed 's/^/archives delivered: /'

# One wildcard project over a big tree, half of it changed since the send
# date; find answers the same question ("which files are newer?").
"$py" - "$db" "$sandbox" "$tree_files" <<'PY'
import os, sqlite3, sys
db, root, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
tree = os.path.join(root, "tree")
for i in range(count):
    folder = os.path.join(tree, "d%03d" % (i // 1000), "s%02d" % (i // 100 % 10))
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "unit%06d.pas" % i)
    with open(path, "w") as f:
        f.write("unit %d;\n" % i)
    when = 1577836800 if i % 2 else 1704067200  # 2020-01-01 or 2024-01-01
    os.utime(path, (when, when))
stamp = os.path.join(root, "stamp")
open(stamp, "w").close()
os.utime(stamp, (1640995200, 1640995200))  # 2022-01-01, the send date below
con = sqlite3.connect(db)
cur = con.cursor()
cur.execute("DELETE FROM sendparams"); cur.execute("DELETE FROM send")
cur.execute("DELETE FROM files"); cur.execute("DELETE FROM projects")
# 2022-01-01 00:00 local time as a day count (days since 1899-12-30).
cur.execute("INSERT INTO projects (type, title, filename, senddate, modified) "
            "VALUES (0, 'Tree', '', 44562.0, DATETIME('NOW'))")
cur.execute("INSERT INTO files (id_projects, filename, modified) VALUES (?, ?, DATETIME('NOW'))",
            (cur.lastrowid, tree + "/*.pas -r"))
con.commit()
PY
echo "tree: $tree_files files; $("$bin" list | cut -f2,3 | tr '\t' ' ')"
time_ms "list, one project of $tree_files files" "$bin" list
time_ms "find -newer over the same tree" find "$sandbox/tree" -newer "$sandbox/stamp" -type f
