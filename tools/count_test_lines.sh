#!/usr/bin/env bash
# tools/count_test_lines.sh [DIR]: the test-to-code line ratios of a checkout (default: here).
# Line counts (blank lines included) of *.cpp, *.h and *.py: tests/<folder> against <folder>,
# and all of tests/ against the product: everything but tests/, bench/, fuzz/, build trees and
# the test tooling under tools/ (make_*.py, jpip_test_server.py, jpiptest/, mutation_check.py,
# decode/check_j2k_decode.py).
cd "${1:-.}"
src() { find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.py' \) 2>/dev/null; }
n() { src "$@" | xargs -r cat | wc -l; }
for d in $(ls -d tests/*/ | cut -d/ -f2 | grep -vE "^(data|support|tools)$"); do
  printf '%-12s code %6d  tests %6d\n' "$d" "$(n $d)" "$(n tests/$d)"
done
p=$(src . | grep -vE '^\./(tests|bench|fuzz|build[^/]*)/|^\./tools/(make_[a-z_]+\.py|jpip_test_server\.py|jpiptest/|mutation_check\.py|decode/check_j2k_decode\.py)' | xargs cat | wc -l)
t=$(n tests)
printf 'all          code %6d  tests %6d  ratio %s\n' "$p" "$t" "$(echo "scale=3; $t/$p" | bc)"
