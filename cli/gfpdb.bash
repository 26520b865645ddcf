# bash completion for gfpdb. Subcommands, options, which options take a value, their choices
# and what a value or positional names (a device, a template, a file, a folder) all come from
# the command's own help, read once per shell; device and template names come from
# "gfpdb list --names" and "gfpdb templates --names" for the folders on the command line.

declare -gA _gfpdb_help_cache

# What "gfpdb [SUB...] --help" lists, one line each:
#   sub NAME | opt NAME TAKES_VALUE CHOICES KIND | pos NAME KIND REPEATABLE
# fields separated by tabs; KIND is device, template, file, folder or empty.
# Reads the help into the cache; call it outside a subshell, or the cache forgets it.
_gfpdb_load() {
    local key="$1|$2"
    if [ -z "${_gfpdb_help_cache[$key]+set}" ]; then
        # shellcheck disable=SC2086
        _gfpdb_help_cache[$key]=$("$1" $2 --help 2>/dev/null | awk '
            function kind(text) {
                if (text ~ /^[Tt]emplate( name|s? of)/) return "template"
                if (text ~ /^([Dd]evice|New device) name/) return text ~ /^New/ ? "" : "device"
                if (text ~ /[Ff]ile|dump/) return "file"
                if (text ~ /[Ff]older/) return "folder"
                return ""
            }
            /^[A-Z][a-z]*:$/ { section = $1; next }
            section == "Subcommands:" && /^  [a-z]/ { print "sub\t" $1; next }
            /^  [^ ]/ && (section == "Options:" || section == "Positionals:") {
                line = $0
                sub(/^ +/, "", line)
                split(line, part, /  +/)
                n = split(part[1], field, " ")
                name = field[1]
                sub(/^-[A-Za-z],/, "", name)
                if (section == "Positionals:") {
                    print "pos\t" name "\t" kind(part[2]) "\t" (part[1] ~ /\.\.\./)
                    next
                }
                choices = ""
                if (n > 1 && match(field[2], /\{[^}]*\}/)) {
                    choices = substr(field[2], RSTART + 1, RLENGTH - 2)
                    gsub(/,/, " ", choices)
                }
                print "opt\t" name "\t" (n > 1) "\t" choices "\t" (choices == "" ? kind(part[2]) : "")
            }')
    fi
}

# The lines of one type ("sub", "opt", "pos") of the command and of subcommand path SUB.
_gfpdb_lines() {
    printf '%s\n' "${_gfpdb_help_cache[$1|$2]-}" | awk -F '\t' -v type="$3" '$1 == type'
}

# The option line of NAME, at the subcommand path or globally.
_gfpdb_option() {
    { _gfpdb_lines "$1" "$2" opt; _gfpdb_lines "$1" "" opt; } |
        awk -F '\t' -v name="$3" '$2 == name {print; exit}'
}

# Completions for a value of kind KIND.
_gfpdb_values() {
    local command=$1 kind=$2 cur=$3
    shift 3
    case $kind in
        device) COMPREPLY=($(compgen -W "$("$command" "$@" list --names 2>/dev/null)" -- "$cur")) ;;
        template)
            COMPREPLY=($(compgen -W "$("$command" "$@" templates --names 2>/dev/null)" -- "$cur")) ;;
        file) COMPREPLY=($(compgen -f -- "$cur")) ;;
        folder) COMPREPLY=($(compgen -d -- "$cur")) ;;
    esac
}

_gfpdb() {
    local command=${COMP_WORDS[0]} cur=${COMP_WORDS[COMP_CWORD]}
    local path="" folders=() positionals=0 word line i
    local -a option
    COMPREPLY=()
    _gfpdb_load "$command" ""
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ $word == -* ]]; then
            # Tabs are whitespace to read: empty fields would vanish, so '|' separates.
            IFS='|' read -r -a option <<<"$(_gfpdb_option "$command" "$path" "$word" | tr '\t' '|')"
            [ "${option[2]-0}" = 1 ] || continue
            # The options that choose folders and settings also choose which names exist.
            case $word in --host-dir|--custom-dir|--set) folders+=("$word" "${COMP_WORDS[i+1]}") ;; esac
            if ((i + 1 == COMP_CWORD)); then
                if [ -n "${option[3]-}" ]; then
                    COMPREPLY=($(compgen -W "${option[3]}" -- "$cur"))
                else
                    _gfpdb_values "$command" "${option[4]-}" "$cur" "${folders[@]}"
                fi
                return
            fi
            ((i++))
        elif _gfpdb_lines "$command" "$path" sub | cut -f2 | grep -qx -- "$word"; then
            path="${path:+$path }$word"
            positionals=0
            _gfpdb_load "$command" "$path"
        else
            ((positionals++))
        fi
    done

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$({ _gfpdb_lines "$command" "$path" opt
                                     _gfpdb_lines "$command" "" opt; } | cut -f2 | sort -u)" -- "$cur"))
        return
    fi
    local subcommands
    subcommands=$(_gfpdb_lines "$command" "$path" sub | cut -f2)
    if [ -n "$subcommands" ]; then
        COMPREPLY=($(compgen -W "$subcommands" -- "$cur"))
        return
    fi
    # The positional being typed; a repeatable last one takes every further word.
    line=$(_gfpdb_lines "$command" "$path" pos | sed -n "$((positionals + 1))p")
    [ -n "$line" ] || line=$(_gfpdb_lines "$command" "$path" pos | tail -n 1 | awk -F '\t' '$4')
    _gfpdb_values "$command" "$(cut -f3 <<<"$line")" "$cur" "${folders[@]}"
}
complete -F _gfpdb gfpdb
