# bash completion for brenvo: commands, their options, and the values those options take.
_brenvo() {
    local current=${COMP_WORDS[COMP_CWORD]} previous=""
    ((COMP_CWORD > 0)) && previous=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W "demo check run serve-store make-lookup compare --help --version" \
            -- "$current")
        return
    fi
    # make-lookup reads its notes from a file; serve-store takes them as text.
    [[ $previous == --notes && ${COMP_WORDS[1]} == make-lookup ]] && previous=--reply
    case $previous in
    --info-plist | --defaults | --reply | -o | --output)
        mapfile -t COMPREPLY < <(compgen -f -- "$current")
        compopt -o filenames 2>/dev/null
        return
        ;;
    --answer)
        mapfile -t COMPREPLY < <(compgen -W "open skip close" -- "$current")
        return
        ;;
    --window)
        mapfile -t COMPREPLY < <(compgen -W "terminal gtk qt notification" -- "$current")
        return
        ;;
    --os-version | --port | --version | --notes | --name | --page | --minimum-os | --release-date)
        return
        ;;
    esac
    local options="--help"
    case ${COMP_WORDS[1]} in
    demo) options+=" --answer --window" ;;
    check) options+=" --info-plist --defaults --os-version --user --answer --window" ;;
    run) options+=" --info-plist --defaults --window --debug" ;;
    serve-store) options+=" --version --notes --name --port --reply" ;;
    make-lookup) options+=" --version --notes --page --minimum-os --release-date --output" ;;
    compare | *) ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$current")
}
complete -F _brenvo brenvo
