# bash completion for bundlewick(1): commands, options, for "deliver" the
# project titles that "bundlewick list" prints, for "send" files.
# Needs only bash's own "complete"; bash-completion loads it on demand.

# The word $1 as the shell reads it: quotes removed, escapes resolved.
# Result in _bundlewick_word.
_bundlewick_dequote()
{
    local word=$1 out='' c q='' i
    for ((i = 0; i < ${#word}; i++)); do
        c=${word:i:1}
        if [[ $q == "'" ]]; then
            [[ $c == "'" ]] && q='' || out+=$c
        elif [[ $c == '\' ]]; then
            ((i++))
            c=${word:i:1}
            # Inside double quotes a backslash escapes only these.
            [[ $q == '"' && $c != [\"\\\$\`] ]] && out+='\'
            out+=$c
        elif [[ $q == '"' ]]; then
            [[ $c == '"' ]] && q='' || out+=$c
        elif [[ $c == [\"\'] ]]; then
            q=$c
        else
            out+=$c
        fi
    done
    _bundlewick_word=$out
}

# Puts the titles that start with the typed text into COMPREPLY, quoted the
# way the word was begun: after an opening quote readline completes inside
# it (and closes it), otherwise blanks and other special characters get a
# backslash.
_bundlewick_titles()
{
    local cur=$1 prog=$2 title quoted typed i
    local -a titles=() given=() matches=()
    _bundlewick_dequote "$cur"
    typed=$_bundlewick_word
    for ((i = 2; i < COMP_CWORD; i++)); do
        _bundlewick_dequote "${COMP_WORDS[i]}"
        given+=("$_bundlewick_word")
    done
    while IFS=$'\t' read -r title _; do
        [[ -n $title ]] || continue
        for i in "${given[@]}"; do
            [[ $i == "$title" ]] && continue 2
        done
        titles+=("$title")
    done < <("$prog" list 2>/dev/null)

    for title in "${titles[@]}"; do
        [[ $title == "$typed"* ]] && matches+=("$title")
    done
    # "deliver" takes a title in any case when no title matches exactly.
    if ((${#matches[@]} == 0)); then
        local typed_lower=${typed,,}
        for title in "${titles[@]}"; do
            [[ ${title,,} == "$typed_lower"* ]] && matches+=("$title")
        done
    fi

    for title in "${matches[@]}"; do
        case $cur in
        \"*)
            quoted=${title//\\/\\\\}
            quoted=${quoted//\"/\\\"}
            quoted=${quoted//\$/\\\$}
            quoted=${quoted//\`/\\\`}
            ;;
        \'*)
            quoted=${title//\'/\'\\\'\'}
            ;;
        *)
            printf -v quoted '%q' "$title"
            ;;
        esac
        COMPREPLY+=("$quoted")
    done
}

# "send": its options, the values of the few that have a fixed set, folders
# after --folder, files otherwise.
_bundlewick_send()
{
    local cur=$1 prev=$2
    case $prev in
    --encryption) COMPREPLY=($(compgen -W 'aes256 traditional' -- "$cur")); return ;;
    --retention) COMPREPLY=($(compgen -W 'day week month year forever' -- "$cur")); return ;;
    --folder) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    --email | --ftp | --name | --password | --password-env | --subject | --message | \
        --ftp-directory | --ftp-login | --ftp-password | --ftp-password-env) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--email --folder --ftp --name --zip --password --password-env
            --encryption --subject --message --link --retention --ftp-directory --ftp-login
            --ftp-password --ftp-password-env --' -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
}

_bundlewick()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    # The program being completed when it was named by a path, else the one
    # on PATH.
    local prog=${1:-bundlewick}
    [[ $prog == */* && -x $prog ]] || prog=bundlewick
    COMPREPLY=()

    if ((COMP_CWORD == 1)); then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '--help --version' -- "$cur"))
        else
            COMPREPLY=($(compgen -W 'list deliver send' -- "$cur"))
        fi
        return 0
    fi

    local i titles_only='' all='' titles=''
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
        -h | --help | -v | --version) return 0 ;;
        esac
    done
    if [[ ${COMP_WORDS[1]} == send ]]; then
        _bundlewick_send "$cur" "${COMP_WORDS[COMP_CWORD - 1]}"
        return 0
    fi
    [[ ${COMP_WORDS[1]} == deliver ]] || return 0
    for ((i = 2; i < COMP_CWORD; i++)); do
        if [[ $titles_only ]]; then
            titles=1
        else
            case ${COMP_WORDS[i]} in
            --) titles_only=1 ;;
            --all) all=1 ;;
            *) titles=1 ;;
            esac
        fi
    done
    # "--all" and titles exclude each other.
    [[ $all ]] && return 0
    if [[ -z $titles_only && $cur == -* ]]; then
        if [[ $titles ]]; then
            COMPREPLY=($(compgen -W '--' -- "$cur"))
        else
            COMPREPLY=($(compgen -W '--all --' -- "$cur"))
        fi
        return 0
    fi
    _bundlewick_titles "$cur" "$prog"
    return 0
}

complete -F _bundlewick bundlewick
