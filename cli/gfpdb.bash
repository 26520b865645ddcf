# bash completion for gfpdb: subcommands and options as the command's own help lists them,
# device and template names as the command lists them for the current folders.

_gfpdb_help_words() {
    # The options (or, with "sub", the subcommands) that "gfpdb [SUB] --help" lists.
    local kind=$1
    shift
    if [ "$kind" = sub ]; then
        "${COMP_WORDS[0]}" "$@" --help 2>/dev/null |
            awk '/^Subcommands:/ {on = 1; next} on && /^  [a-z]/ {print $1}'
    else
        "${COMP_WORDS[0]}" "$@" --help 2>/dev/null | grep -o -- '--[a-z][a-z0-9-]*' | sort -u
    fi
}

_gfpdb() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local folders=() path=() word i
    # The global options that choose folders also choose which names exist.
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
            --host-dir|--custom-dir|--set) folders+=("$word" "${COMP_WORDS[i+1]}"); ((i++)) ;;
            --family|--scheme|--flow|--id|--voltage|--density|--dies|--dummy|--dummy-x4|\
            --template|--save-template|--to|--from|--port) ((i++)) ;;
            -*) ;;
            *) path+=("$word") ;;
        esac
    done

    case $prev in
        --host-dir|--custom-dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        --flow) COMPREPLY=($(compgen -W "sfl sdm" -- "$cur")); return ;;
        --to|--from) COMPREPLY=($(compgen -W "host custom" -- "$cur")); return ;;
        --template)
            COMPREPLY=($(compgen -W "$("${COMP_WORDS[0]}" "${folders[@]}" templates --names 2>/dev/null)" -- "$cur"))
            return ;;
        --family|--scheme|--id|--voltage|--density|--dies|--dummy|--dummy-x4|--save-template|--set|--port)
            return ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_gfpdb_help_words opt "${path[@]}")" -- "$cur"))
        return
    fi
    local names
    case ${path[0]-} in
        "") names=$(_gfpdb_help_words sub) ;;
        config) [ ${#path[@]} -eq 1 ] && names=$(_gfpdb_help_words sub config) ;;
        show|delete)
            [ ${#path[@]} -eq 1 ] && names=$("${COMP_WORDS[0]}" "${folders[@]}" list --names 2>/dev/null) ;;
        show-template|delete-template)
            [ ${#path[@]} -eq 1 ] && names=$("${COMP_WORDS[0]}" "${folders[@]}" templates --names 2>/dev/null) ;;
        check) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    esac
    COMPREPLY=($(compgen -W "$names" -- "$cur"))
}
complete -F _gfpdb gfpdb
