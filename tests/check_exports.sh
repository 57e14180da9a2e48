#!/usr/bin/env bash
# The shared library must export exactly the names of the export list (generated from
# include/zemuser.h at configure time, one name a line), nothing else.
set -euo pipefail
diff -u <(sort "$2") <(nm -D --defined-only "$1" | awk '{print $3}' | sed 's/@.*//' | sort)
echo "exports: $(wc -l < "$2") names, as expected"
