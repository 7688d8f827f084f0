#!/usr/bin/env bash
# Formats every C++ file of ours with clang-format 14 and the repository's
# .clang-format. With --check it changes nothing, lists what is not formatted
# and fails (CI runs it so).
#
#   tools/format.sh [--check]
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"

mapfile -t files < <(find app browser crashreport platform playback tests bench fuzz tools \
    -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
case "${1:-}" in
--check)
    clang-format-14 --dry-run --Werror "${files[@]}"
    echo "${#files[@]} C++ files formatted as .clang-format wants"
    ;;
"") clang-format-14 -i "${files[@]}" ;;
*)
    echo "usage: $0 [--check]" >&2
    exit 2
    ;;
esac
