# bash completion for kelvane-cli

_kelvane_cli() {
    local cur prev words cword
    _init_completion || return

    # The command words so far, without options and their values.
    local i cmd="" sub=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --dir | --server | --user | --security | --fingerprint | --mailbox | --size | \
            --auth | --password-command | --to | --older-than)
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
        --auth)
            COMPREPLY=($(compgen -W "user xoauth2" -- "$cur"))
            return ;;
        --to)
            _filedir -d
            return ;;
        --password-command)
            compopt -o bashdefault -o default
            COMPREPLY=($(compgen -c -- "$cur"))
            return ;;
        --mailbox)
            COMPREPLY=($(compgen -W "$(seq 1 12)" -- "$cur"))
            return ;;
        --server | --user | --fingerprint | --size | --older-than)
            return ;;
    esac

    local opts=""
    case $cmd in
        "")
            opts="--dir --help --version mailbox settings eval check deleted autostart" ;;
        mailbox)
            case $sub in
                "") opts="--help list set probe clear default" ;;
                set) opts="--help --server --user --password-stdin --password-command --move-password --auth --security --fingerprint" ;;
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
        deleted)
            case $sub in
                "") opts="--help list restore purge" ;;
                restore) opts="--help --to" ;;
                purge) opts="--help --older-than" ;;
                *) opts="--help" ;;
            esac ;;
        autostart)
            [[ -z $sub ]] && opts="--help on off status" || opts="--help" ;;
    esac
    COMPREPLY=($(compgen -W "$opts" -- "$cur"))
}
complete -F _kelvane_cli kelvane-cli
