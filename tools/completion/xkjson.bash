# bash completion for xkjson: its options, and files for the input.
_xkjson() {
    local current=${COMP_WORDS[COMP_CWORD]} previous=""
    ((COMP_CWORD > 0)) && previous=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    [[ $previous == --max-depth ]] && return
    if [[ $current == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "--fragment --max-depth --check --pretty --sort-keys
            --help --version" -- "$current")
    else
        mapfile -t COMPREPLY < <(compgen -f -- "$current")
        compopt -o filenames 2>/dev/null
    fi
}
complete -F _xkjson xkjson
