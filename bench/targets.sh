#!/usr/bin/env bash
# Print lookup_bench's figures side by side and each look-up target beside
# what was measured:
#
#   bench/targets.sh build-bench/lookups.csv
#
# With repetitions it reads the medians, else the single runs. CPU time per
# call, in microseconds.
set -euo pipefail
if [ $# -ne 1 ]; then
    echo "usage: bench/targets.sh LOOKUPS.csv" >&2
    exit 2
fi
awk -F, '
    $1 !~ /^"?BM_Lookup/ { next }
    {
        name = $1; gsub(/"/, "", name)
        if (name ~ /_(mean|stddev|cv)$/) next
        medians += (name ~ /_median$/)
        sub(/_median$/, "", name); sub(/\/repeats:[0-9]+/, "", name)
        split(name, part, "/"); kind = part[1]; sub(/^BM_Lookup/, "", kind); keys = part[2]
        scale = ($5 ~ /us/) ? 1 : ($5 ~ /ms/) ? 1000 : 0.001
        # With repetitions a median row follows the runs and replaces them.
        time[kind, keys] = $4 * scale; calls[kind, keys] = $11; kib[kind, keys] = $12; reads[kind, keys] = $13
        if (!((keys) in seen)) { seen[keys] = 1; order[++n] = keys }
    }
    function verdict(ok) { return ok ? "met" : "NOT MET" }
    END {
        for (i = 2; i <= n; ++i)
            for (j = i; j > 1 && order[j - 1] + 0 > order[j] + 0; --j) { t = order[j]; order[j] = order[j - 1]; order[j - 1] = t }
        printf "%10s %18s %20s %10s %12s %12s\n", "keys", "plain (reads)", "dictionary (calls)", "SQLite", "plain/SQLite", "dict/SQLite"
        for (i = 1; i <= n; ++i) {
            k = order[i]
            printf "%10s %9.1f us (%4.1f) %10.1f us (%4.1f) %7.1f us %12.2f %12.2f\n", k, time["Plain", k], reads["Plain", k],
                time["Dictionary", k], calls["Dictionary", k], time["Sqlite", k],
                time["Plain", k] / time["Sqlite", k], time["Dictionary", k] / time["Sqlite", k]
        }
        print ""
        if (("Plain", 100000) in time) {
            printf "plain, 100,000 keys: %.1f reads per look-up (target at most 20): %s\n", reads["Plain", 100000], verdict(reads["Plain", 100000] <= 20)
            printf "dictionary book, 100,000 words: %.1f us against SQLite %.1f us (target no slower): %s\n",
                time["Dictionary", 100000], time["Sqlite", 100000], verdict(time["Dictionary", 100000] <= time["Sqlite", 100000])
            printf "dictionary book, 100,000 words: %.1f file calls per look-up (target at most 8): %s; engine holds %.0f KiB\n",
                calls["Dictionary", 100000], verdict(calls["Dictionary", 100000] <= 8), kib["Dictionary", 100000]
        }
        if (("Plain", 1000000) in time) {
            printf "plain, 1,000,000 keys: %.1f reads per look-up (target at most 24): %s\n", reads["Plain", 1000000], verdict(reads["Plain", 1000000] <= 24)
            printf "plain, 1,000,000 keys: %.2f x SQLite (target at most 1.5): %s\n",
                time["Plain", 1000000] / time["Sqlite", 1000000], verdict(time["Plain", 1000000] <= 1.5 * time["Sqlite", 1000000])
        }
        if (medians) print "(medians of the repetitions)"
    }' "$1"
