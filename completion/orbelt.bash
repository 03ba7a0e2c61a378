# Bash completion for orbelt-dl, orbelt-scramble and orbelt-board.
# The options come from the program's own --help when Tab is pressed, so that an option added
# to a program completes without a change here. A help line "  -x, --name WORD  text" names
# options; an upper-case WORD is the value they take, and FILE or PATH values are file names.
# The values of -p are the port numbers that --list-ports reports, those of --serial-format the
# format names.

# _orbelt_options PROGRAM: one line "OPTION VALUE" per option of PROGRAM's help, VALUE - for
# options that take none.
_orbelt_options()
{
    local line value word
    local -a words names
    while IFS= read -r line; do
        [[ $line =~ ^\ \ (-[^\ ].*)$ ]] || continue
        # The option and its value end where two spaces start the description.
        read -ra words <<<"${BASH_REMATCH[1]%%  *}"
        names=()
        value=-
        for word in "${words[@]}"; do
            word=${word%,}
            if [[ $word == -* ]]; then
                names+=("$word")
            elif [[ $word =~ ^[A-Z] ]]; then
                value=$word
            fi
        done
        for word in "${names[@]}"; do
            printf '%s %s\n' "$word" "$value"
        done
    done < <("$1" --help 2>/dev/null)
}

# _orbelt_ports PROGRAM PREFIX: the numbered ports of PROGRAM --list-ports (first field).
_orbelt_ports()
{
    local number rest
    while IFS=$'\t' read -r number rest; do
        if [[ $number =~ ^[0-9]+$ && $number == "$2"* ]]; then
            COMPREPLY+=("$number")
        fi
    done < <("$1" --list-ports 2>/dev/null)
}

_orbelt_files()
{
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$1")
}

_orbelt()
{
    local program=${COMP_WORDS[0]/#\~/$HOME}
    local cur=${COMP_WORDS[COMP_CWORD]} prev=""
    if [ "$COMP_CWORD" -gt 1 ]; then
        prev=${COMP_WORDS[COMP_CWORD - 1]}
    fi
    COMPREPLY=()
    local option value
    local -a options=()
    while read -r option value; do
        options+=("$option")
        if [ "$option" != "$prev" ] || [ "$value" = - ]; then
            continue
        fi
        case $option:$value in
        *:FILE | *:PATH) _orbelt_files "$cur" ;;
        -p:*) _orbelt_ports "$program" "$cur" ;;
        --serial-format:*)
            mapfile -t COMPREPLY < <(compgen -W "le32 be32 le16 be16 le64 be64 dec{1..20}" -- "$cur")
            ;;
        esac
        return 0
    done < <(_orbelt_options "$program")

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "${options[*]}" -- "$cur")
    else
        _orbelt_files "$cur"
    fi
}

complete -F _orbelt orbelt-dl orbelt-scramble orbelt-board
