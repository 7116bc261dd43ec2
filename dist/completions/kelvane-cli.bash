# bash completion for kelvane-cli

_kelvane_cli() {
    local cur prev words cword
    _init_completion || return

    # The command words so far, without options and their values.
    local i cmd="" sub=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --dir | --server | --user | --security | --fingerprint | --mailbox | --size)
                ((i++)) ;;
            -*) ;;
            *)
                if [[ -z $cmd ]]; then
                    cmd=${words[i]}
                elif [[ -z $sub ]]; then
                    sub=${words[i]}
                fi
                ;;
        esac
    done

    case $prev in
        --dir)
            _filedir -d
            return ;;
        --security)
            if [[ $sub == probe ]]; then
                COMPREPLY=($(compgen -W "tls starttls" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "none tls starttls" -- "$cur"))
            fi
            return ;;
        --mailbox)
            COMPREPLY=($(compgen -W "$(seq 1 12)" -- "$cur"))
            return ;;
        --server | --user | --fingerprint | --size)
            return ;;
    esac

    local opts=""
    case $cmd in
        "")
            opts="--dir --help --version mailbox settings eval check autostart" ;;
        mailbox)
            case $sub in
                "") opts="--help list set probe clear default" ;;
                set) opts="--help --server --user --password-stdin --security --fingerprint" ;;
                probe) opts="--help --security" ;;
                *) opts="--help" ;;
            esac ;;
        settings)
            case $sub in
                "") opts="--help get set" ;;
                get | set) opts="--help General Server" ;;
            esac ;;
        eval)
            if [[ $cur != -* ]]; then
                _filedir
                return
            fi
            opts="--help --mailbox --size --reasons" ;;
        check)
            opts="--help --mailbox --all --delete --no-pipelining --reasons" ;;
        autostart)
            [[ -z $sub ]] && opts="--help on off status" || opts="--help" ;;
    esac
    COMPREPLY=($(compgen -W "$opts" -- "$cur"))
}
complete -F _kelvane_cli kelvane-cli
