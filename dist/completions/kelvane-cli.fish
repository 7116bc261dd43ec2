# fish completion for kelvane-cli

function __kelvane_cli_words
    # The command words so far, without options and their values.
    set -l words (commandline -opc)
    set -e words[1]
    set -l out
    set -l skip 0
    for w in $words
        if test $skip -eq 1
            set skip 0
            continue
        end
        switch $w
            case --dir --server --user --security --fingerprint --mailbox --size --auth --password-command --to --older-than
                set skip 1
            case '-*'
            case '*'
                set out $out $w
        end
    end
    printf '%s\n' $out
end

function __kelvane_cli_at
    # True when the command words are exactly the arguments.
    set -l words (__kelvane_cli_words)
    test "$words" = "$argv"
end

function __kelvane_cli_in
    # True when the command words begin with the arguments.
    set -l words (__kelvane_cli_words)
    set -l n (count $argv)
    test (count $words) -ge $n; and test "$words[1..$n]" = "$argv"
end

set -l slots 1 2 3 4 5 6 7 8 9 10 11 12

complete -c kelvane-cli -f
complete -c kelvane-cli -s h -l help -d 'Print the help and exit'
complete -c kelvane-cli -n '__kelvane_cli_at' -l dir -x -a '(__fish_complete_directories)' -d 'Program folder holding the rule set'
complete -c kelvane-cli -n '__kelvane_cli_at' -l version -d 'Print the version and exit'
complete -c kelvane-cli -n '__kelvane_cli_at' -a mailbox -d 'List and change the twelve mailbox slots'
complete -c kelvane-cli -n '__kelvane_cli_at' -a settings -d 'Read and write the per-user store'
complete -c kelvane-cli -n '__kelvane_cli_at' -a eval -d 'Judge saved messages with the rule set'
complete -c kelvane-cli -n '__kelvane_cli_at' -a check -d 'Check a mailbox'
complete -c kelvane-cli -n '__kelvane_cli_at' -a deleted -d 'The kept copies of deleted messages'
complete -c kelvane-cli -n '__kelvane_cli_at' -a autostart -d 'Start the desktop program when you log in'

complete -c kelvane-cli -n '__kelvane_cli_at mailbox' -a list -d 'One line per configured slot'
complete -c kelvane-cli -n '__kelvane_cli_at mailbox' -a set -d 'Configure slot N'
complete -c kelvane-cli -n '__kelvane_cli_at mailbox' -a probe -d 'Show the server certificate of slot N'
complete -c kelvane-cli -n '__kelvane_cli_at mailbox' -a clear -d 'Empty slot N'
complete -c kelvane-cli -n '__kelvane_cli_at mailbox' -a default -d 'Make slot N the default mailbox'
for sub in set probe clear default
    complete -c kelvane-cli -n "__kelvane_cli_at mailbox $sub" -a "$slots"
end
complete -c kelvane-cli -n '__kelvane_cli_in mailbox set' -l server -x -a '(__fish_print_hostnames)' -d 'POP3 server host name'
complete -c kelvane-cli -n '__kelvane_cli_in mailbox set' -l user -x -d 'User name (mailbox name)'
complete -c kelvane-cli -n '__kelvane_cli_in mailbox set' -l password-stdin -d 'Read the password from standard input into the keyring'
complete -c kelvane-cli -n '__kelvane_cli_in mailbox set' -l password-command -x -a '(__fish_complete_command)' -d 'Command whose first output line is the password or token'
complete -c kelvane-cli -n '__kelvane_cli_in mailbox set' -l move-password -d 'Move the password from the settings file into the keyring'
complete -c kelvane-cli -n '__kelvane_cli_in mailbox set' -l auth -x -a 'user\t"USER and PASS" xoauth2\t"OAuth 2.0 access token"' -d 'Sign-in method'
complete -c kelvane-cli -n '__kelvane_cli_in mailbox set' -l security -x -a 'none tls starttls' -d 'Connection security'
complete -c kelvane-cli -n '__kelvane_cli_in mailbox set' -l fingerprint -x -d 'Pinned SHA-256 certificate fingerprint'
complete -c kelvane-cli -n '__kelvane_cli_in mailbox probe' -l security -x -a 'tls starttls' -d 'Security to probe with'

complete -c kelvane-cli -n '__kelvane_cli_at settings' -a get -d 'Print the value of KEY in SECTION'
complete -c kelvane-cli -n '__kelvane_cli_at settings' -a set -d 'Store VALUE as KEY in SECTION'
complete -c kelvane-cli -n '__kelvane_cli_at settings get; or __kelvane_cli_at settings set' -a 'General Server'

complete -c kelvane-cli -n '__kelvane_cli_in eval' -F
complete -c kelvane-cli -n '__kelvane_cli_in eval' -l mailbox -x -a "$slots" -d 'Judge as on the connection of this slot'
complete -c kelvane-cli -n '__kelvane_cli_in eval' -l size -x -d 'Message size in octets'
complete -c kelvane-cli -n '__kelvane_cli_in eval' -l reasons -d 'Report why each message got its mark'

complete -c kelvane-cli -n '__kelvane_cli_in check' -l mailbox -x -a "$slots" -d 'Mailbox slot to check'
complete -c kelvane-cli -n '__kelvane_cli_in check' -l all -d 'Check every configured mailbox'
complete -c kelvane-cli -n '__kelvane_cli_in check' -l delete -d 'Delete the messages marked for deletion'
complete -c kelvane-cli -n '__kelvane_cli_in check' -l no-pipelining -d 'One command at a time'
complete -c kelvane-cli -n '__kelvane_cli_in check' -l reasons -d 'Report why each message got its mark'

complete -c kelvane-cli -n '__kelvane_cli_at deleted' -a list -d 'One line per kept message'
complete -c kelvane-cli -n '__kelvane_cli_at deleted' -a restore -d 'Write kept messages to DIR/ID.eml'
complete -c kelvane-cli -n '__kelvane_cli_at deleted' -a purge -d 'Remove the old kept messages'
complete -c kelvane-cli -n '__kelvane_cli_in deleted restore' -l to -x -a '(__fish_complete_directories)' -d 'Folder to write the .eml files into'
complete -c kelvane-cli -n '__kelvane_cli_in deleted purge' -l older-than -x -d 'Age in days'

complete -c kelvane-cli -n '__kelvane_cli_at autostart' -a on -d 'Start kelvane when you log in'
complete -c kelvane-cli -n '__kelvane_cli_at autostart' -a off -d 'Do not start it'
complete -c kelvane-cli -n '__kelvane_cli_at autostart' -a status -d 'Print on or off'
