# fish completion for halvex.
# Each command's options are those 'halvex help COMMAND' lists
# (tests/cli/docs_test.sh holds them to it).

set -l commands encrypt decrypt copy mail keystore status inspect keygen clean help
complete -c halvex -f

# Before a command: the commands, help and version.
complete -c halvex -n "not __fish_seen_subcommand_from $commands" -a encrypt -d 'encrypt files in place'
complete -c halvex -n "not __fish_seen_subcommand_from $commands" -a decrypt -d 'decrypt files in place'
complete -c halvex -n "not __fish_seen_subcommand_from $commands" -a copy -d 'self-extracting encrypted copies beside the files'
complete -c halvex -n "not __fish_seen_subcommand_from $commands" -a mail -d 'encrypted copies in a new message folder'
complete -c halvex -n "not __fish_seen_subcommand_from $commands" -a keystore -d 'the stored keys'
complete -c halvex -n "not __fish_seen_subcommand_from $commands" -a status -d 'plain, encrypted, self-extracting, locked'
complete -c halvex -n "not __fish_seen_subcommand_from $commands" -a inspect -d 'what the header of an encrypted file tells, without a key'
complete -c halvex -n "not __fish_seen_subcommand_from $commands" -a keygen -d 'a new identity, and its recipient line'
complete -c halvex -n "not __fish_seen_subcommand_from $commands" -a clean -d 'remove message folders and restored files'
complete -c halvex -n "not __fish_seen_subcommand_from $commands" -a help -d 'the overview, or one command\'s options'
complete -c halvex -n "not __fish_seen_subcommand_from $commands" -s h -l help -d 'print the overview'
complete -c halvex -n "not __fish_seen_subcommand_from $commands" -l version -d 'print the version'

# After "help": the command to tell about.
complete -c halvex -n "__fish_seen_subcommand_from help; and not __fish_seen_subcommand_from encrypt decrypt copy mail keystore status inspect keygen clean" -a 'encrypt decrypt copy mail keystore status inspect keygen clean'

# The commands that take files.
complete -c halvex -n '__fish_seen_subcommand_from encrypt decrypt copy mail status inspect' -F
complete -c halvex -n '__fish_seen_subcommand_from encrypt decrypt copy mail keystore status inspect keygen clean' -l help -d 'print the help of the command'

# The options, each with the commands that take it.
complete -c halvex -n '__fish_seen_subcommand_from encrypt decrypt copy mail status' -s r -l recursive -d 'expand folders into the files below them'
complete -c halvex -n '__fish_seen_subcommand_from encrypt decrypt copy mail status keystore inspect' -l json -d 'print the result as JSON'
complete -c halvex -n '__fish_seen_subcommand_from encrypt decrypt copy mail keystore' -l no-input -d 'never ask at the terminal'
complete -c halvex -n '__fish_seen_subcommand_from encrypt decrypt copy mail' -l password-file -r -F -d 'read the password from the first line of a file'
complete -c halvex -n '__fish_seen_subcommand_from encrypt decrypt' -l ask-password -d 'ask for a password at the terminal'
complete -c halvex -n '__fish_seen_subcommand_from encrypt decrypt' -l on-exists -x -a 'replace skip stop' -d 'when the output exists'
complete -c halvex -n '__fish_seen_subcommand_from encrypt decrypt' -l on-error -x -a 'skip stop retry-once' -d 'after a failure'
complete -c halvex -n '__fish_seen_subcommand_from encrypt copy mail' -l stub -x -a 'windows linux' -d 'the program in front of self-extracting copies'
complete -c halvex -n '__fish_seen_subcommand_from encrypt' -l hidden -d 'also the files in hidden folders'
complete -c halvex -n '__fish_seen_subcommand_from encrypt' -l self-extract -d 'keep each source, write a self-extracting copy'
complete -c halvex -n '__fish_seen_subcommand_from encrypt' -l on-hidden -x -a 'encrypt skip' -d 'hidden files'
complete -c halvex -n '__fish_seen_subcommand_from encrypt' -l links -x -a 'encrypt refuse' -d 'files with other names (hard links)'
complete -c halvex -n '__fish_seen_subcommand_from encrypt' -l recipient -r -F -d 'encrypt to a public key (a halvex1... line or a file of them)'
complete -c halvex -n '__fish_seen_subcommand_from decrypt' -l identity -r -F -d 'an identity file of halvex keygen'
complete -c halvex -n '__fish_seen_subcommand_from keygen' -s o -l output -r -F -d 'write the identity to a new file'
complete -c halvex -n '__fish_seen_subcommand_from keygen' -l ring -d 'keep the identity beside the key store'
complete -c halvex -n '__fish_seen_subcommand_from decrypt' -l to-temp -d 'restore into the private temporary folder'
complete -c halvex -n '__fish_seen_subcommand_from decrypt' -l stream-unverified -d 'with -, write each part as soon as it authenticates'
complete -c halvex -n '__fish_seen_subcommand_from decrypt' -l strict -d 'treat files that are not encrypted as errors'
complete -c halvex -n '__fish_seen_subcommand_from encrypt' -l strict -d 'treat files that are already encrypted as errors'
complete -c halvex -n '__fish_seen_subcommand_from encrypt decrypt' -s j -l jobs -x -d 'batches side by side'
complete -c halvex -n '__fish_seen_subcommand_from clean' -l dry-run -d 'list what would be removed'
complete -c halvex -n '__fish_seen_subcommand_from mail' -l yah -d 'use the YAH folder'
complete -c halvex -n '__fish_seen_subcommand_from mail' -l to -x -a '(__fish_complete_directories)' -d 'also copy each one into a folder as NAME.exe'

# keystore: its actions, then their options and files.
set -l actions path list use export import
complete -c halvex -n "__fish_seen_subcommand_from keystore; and not __fish_seen_subcommand_from $actions" -a "$actions"
complete -c halvex -n '__fish_seen_subcommand_from export import' -F
complete -c halvex -n '__fish_seen_subcommand_from keystore' -l passphrase-file -r -F -d 'read the passphrase from the first line of a file'
complete -c halvex -n '__fish_seen_subcommand_from keystore' -l no-passphrase -d 'export the keys unsealed'
complete -c halvex -n '__fish_seen_subcommand_from keystore' -l force -d 'accepted for old scripts'
