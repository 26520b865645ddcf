#!/usr/bin/env bash
# Bash completion of the built command: subcommands, options, choices and names, each from the
# command itself.
#
#   test_completion.sh GFPDB DATA_DIR
set -uo pipefail
gfpdb=$1
export GFPDB_HOST_DIR=$2 GFPDB_USER_INI=/nonexistent/user.ini HOME=/nonexistent
source "$(dirname "$0")/../../cli/gfpdb.bash"

# The words of a command line, the last one being completed | the completions, sorted.
cases=(
    "sh|show show-template"
    "config c|custom-dir"
    "--js|--json"
    "show --f|--flow"
    "list --names --fa|--family"
    "show --flow s|sdm sfl"
    "add GF_X --to h|host"
    "show GF25M12|GF25M128L"
    "show GF25M128L GF|"
    "--json delete KVRN1|KVRN128L KVRN16"
    "show-template Mi|Micron"
    "add GF_X --template Cy|Cypress"
    "--host-dir $2 show --flow sfl SQD2|SQD256U"
)
failed=0
for case in "${cases[@]}"; do
    read -r -a COMP_WORDS <<<"${case%%|*}"
    [[ ${case%%|*} == *" " ]] && COMP_WORDS+=("")
    COMP_WORDS=("$gfpdb" "${COMP_WORDS[@]}")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _gfpdb
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    if [ "$got" != "${case#*|}" ]; then
        echo "FAIL: gfpdb ${case%%|*}<TAB> gave '$got', not '${case#*|}'" >&2
        failed=1
    fi
done
[ $failed -eq 0 ] && echo "completion: ${#cases[@]} cases OK"
exit $failed
