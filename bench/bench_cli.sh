#!/usr/bin/env bash
# bench_cli.sh [BUNDLEWICK] [RUNS] [TREE_FILES] [DELIVER_RUNS]: whole-process
# timings of the command line.
#   list on an empty database; list with 500 projects of 20 entries each;
#   deliver of one of those projects to a File task folder; list of one
#   wildcard project over a tree of TREE_FILES files (100,000 by default),
#   side by side with "find DIR -newer STAMP" over the same tree.
#   deliver of a project over 100,000 one-byte files in 500 folders, and over
#   a copy of /usr/include, each beside the Info-ZIP pipeline that makes the
#   same archive ("zip -r -6" of the tree, then "zip -0 -P" of that and the
#   manifest), DELIVER_RUNS times (5 by default): wall time and peak memory,
#   and their ratios.
# Prints the median and the fastest run of each, in milliseconds. Everything
# happens in a temporary sandbox (XDG folders, HOME and TMPDIR point there).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$here/build/src/app/bundlewick}
runs=${2:-15}
tree_files=${3:-100000}
deliver_runs=${4:-5}
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

# --- deliver beside Info-ZIP -------------------------------------------------

# measure NAME COMMAND...: runs the command $deliver_runs times (after one
# warm-up) and records the median wall time (ms) and the median peak memory
# (KiB, of the command and everything it started) as $NAME_ms and $NAME_kb.
measure() {
    local name=$1; shift
    "$@" >/dev/null 2>&1
    local rows=()
    for ((i = 0; i < deliver_runs; i++)); do
        local t0 t1 kb
        t0=$(date +%s%N)
        /usr/bin/time -f '%M' -o "$sandbox/rss" "$@" >/dev/null 2>&1
        kb=$(tail -1 "$sandbox/rss")
        t1=$(date +%s%N)
        rows+=("$(( (t1 - t0) / 1000 )) $kb")
    done
    read -r ms kb < <(printf '%s\n' "${rows[@]}" | "$py" -c '
import statistics, sys
rows = [line.split() for line in sys.stdin if line.strip()]
print("%.1f %d" % (statistics.median(int(r[0]) / 1000 for r in rows),
                  statistics.median(int(r[1]) for r in rows)))')
    printf -v "${name}_ms" '%s' "$ms"
    printf -v "${name}_kb" '%s' "$kb"
}

# compare LABEL TREE: one project with the wildcard entry "TREE/* -r" and a
# File task with a password, delivered by name, beside the zip pipeline.
compare() {
    local label=$1 tree=$2
    rm -rf "$sandbox/out"; mkdir -p "$sandbox/out" "$sandbox/zipout"
    "$py" - "$db" "$tree" "$sandbox/out" <<'PY'
import sqlite3, sys
db, tree, out = sys.argv[1:4]
con = sqlite3.connect(db)
cur = con.cursor()
cur.execute("DELETE FROM sendparams"); cur.execute("DELETE FROM send")
cur.execute("DELETE FROM files"); cur.execute("DELETE FROM projects")
cur.execute("INSERT INTO projects (type, title, filename, senddate, modified) "
            "VALUES (0, 'Scale', '', NULL, DATETIME('NOW'))")
pid = cur.lastrowid
cur.execute("INSERT INTO files (id_projects, filename, modified) VALUES (?, ?, DATETIME('NOW'))",
            (pid, tree + "/* -r"))
cur.execute("INSERT INTO send (id_projects, type, zippassword, modified) "
            "VALUES (?, 1, 'secret', DATETIME('NOW'))", (pid,))
cur.execute("INSERT INTO sendparams (id_send, name, value, modified) "
            "VALUES (?, 'FileFolder', ?, DATETIME('NOW'))", (cur.lastrowid, out))
con.commit()
PY
    # The archives do not pile up: each run replaces the last one's.
    deliver_once() { rm -f "$sandbox"/out/*.zip; "$bin" deliver Scale; }
    zip_once() {
        cd "$tree" && rm -f "$sandbox/zipout/code.zip" "$sandbox/zipout/out.zip" \
            && zip -q -r -6 "$sandbox/zipout/code.zip" . \
            && cd "$sandbox/zipout" && echo '<html></html>' > readme.htm \
            && zip -q -0 -P secret out.zip code.zip readme.htm
    }
    export -f deliver_once zip_once
    export bin sandbox tree
    measure bw bash -c deliver_once
    measure zp bash -c zip_once
    local entries
    entries=$(unzip -Z1 "$sandbox/zipout/code.zip" | grep -vc '/$' || true)
    "$py" - "$label" "$entries" "$bw_ms" "$zp_ms" "$bw_kb" "$zp_kb" <<'PY'
import sys
label, entries = sys.argv[1], sys.argv[2]
bw_ms, zp_ms, bw_kb, zp_kb = map(float, sys.argv[3:7])
print("%s (%s files)" % (label, entries))
print("  deliver        wall median %8.1f ms   peak %7.1f MB" % (bw_ms, bw_kb / 1024))
print("  zip pipeline   wall median %8.1f ms   peak %7.1f MB" % (zp_ms, zp_kb / 1024))
print("  ratio          time %.2fx   memory %.2fx" % (bw_ms / zp_ms, bw_kb / zp_kb))
PY
}

echo "deliver beside zip, $deliver_runs runs each, $(nproc) cores; load: $(uptime | sed 's/.*load/load/')"
"$py" - "$sandbox/small" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(500):
    folder = os.path.join(root, "d%03d" % d)
    os.makedirs(folder)
    for f in range(200):
        with open(os.path.join(folder, "f%03d.txt" % f), "w") as out:
            out.write("x")
PY
compare "100,000 one-byte files in 500 folders" "$sandbox/small"
rm -rf "$sandbox/small"
cp -r /usr/include "$sandbox/include"
compare "/usr/include" "$sandbox/include"
