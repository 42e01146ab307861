#!/bin/sh
# The lexer benchmark: loading a generated source text of SIZE_MB (50 by
# default) against Python's json.loads on the same records as JSON. Prints
# both times and their ratio (the lexer must stay within twice Python's
# time). Run after `make build`; BUILD_DIR selects the build directory.
set -e
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
SIZE_MB=${SIZE_MB:-50}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

python3 - "$WORK" "$SIZE_MB" <<'PY'
import json, random, sys
work, size_mb = sys.argv[1], int(sys.argv[2])
random.seed(7)
words = ["alpha", "beta", "gamma", "delta", "epsilon", "zeta", "theta", "kappa", "lambda", "omega"]
records, parts, size, i = [], ["[\n"], 0, 0
while size < size_mb * 1024 * 1024:
    r = {"id": i, "name": " ".join(random.choice(words) for _ in range(3)),
         "score": round(random.random() * 1000, 3), "tags": random.sample(words, 3),
         "count": random.randint(-100000, 100000), "ok": i % 2 == 0}
    records.append(r)
    line = '    [id: %d name: %s score: %r tags: [%s] count: %d ok: %s]\n' % (
        r["id"], json.dumps(r["name"]), r["score"], " ".join(json.dumps(t) for t in r["tags"]),
        r["count"], "true" if r["ok"] else "false")
    parts.append(line)
    size += len(line)
    i += 1
parts.append("]\n")
open(work + "/data.kel", "w").write("".join(parts))
open(work + "/data.json", "w").write(json.dumps(records))
PY

c++ -std=c++20 -O2 -Isrc -I"$BUILD_DIR/generated" bench/lexer_load.cpp $(cat "$BUILD_DIR/kel-archives.txt") \
  -pthread -o "$WORK/lexer_load"
KEL=$("$WORK/lexer_load" "$WORK/data.kel" | cut -d' ' -f1)
PYTHON=$(python3 -c "
import json, sys, time
text = open(sys.argv[1]).read()
start = time.perf_counter(); json.loads(text); print('%.3f' % (time.perf_counter() - start))" "$WORK/data.json")
echo "lexer load ${SIZE_MB} MB: ${KEL} s, python json.loads: ${PYTHON} s, ratio $(python3 -c "print('%.2f' % ($KEL / $PYTHON))")"
