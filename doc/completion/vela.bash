# bash completion for sqlterm and blobfile                              -*- shell-script -*-
# Installed once per program name; loading either registers both.

# sqlterm's options, one per line: the name and whether a value follows (":").
_vela_sqlterm_options="
-cs:
-connection_string:
-do
-data_only
-cd:
-column_delimiter:
-q:
-query:
-qf:
-query_from_file:
-qi
-query_from_stdin
-oe
-on_error
-csv
-format:
-fmt:
-null:
-null_text:
-lc
-lc:
-long_columns
-long_columns:
-ml
-multiline
-pager
-pager:
-border:
-x
-x:
-expanded
-expanded:
-timing:
-rc:
-norc
-init-rc
-batch:
-copy_from:
-into:
-create
-create:
-tables:
-schema
-schema:
-jobs:
-retry:
-hosts:
-target:
-host_order:
-reconnect
-v:
-variable:
"

# The names of "-format".
_vela_formats="aligned vertical json jsonl markdown csv tsv"

# The code pages a script file may be read in.
_vela_code_pages="auto ansi oem utf8 utf8bom unicode ucs2 ucs2be utf7 1250 1251 1252 866 437 20866 65001"

# Installed ODBC driver names, one per line.
_vela_odbc_drivers() {
    if command -v odbcinst >/dev/null 2>&1; then
        odbcinst -q -d 2>/dev/null | sed -n 's/^\[\(.*\)\]$/\1/p'
    else
        sed -n 's/^[[:space:]]*\[\(.*\)\][[:space:]]*$/\1/p' "${ODBCSYSINI:-/etc}/odbcinst.ini" 2>/dev/null
    fi
}

# The word being completed as the user typed it, quotes included (bash itself splits it at
# ":" and "=").
_vela_current_word() {
    local line=${COMP_LINE:0:COMP_POINT} word= quote= i c
    for (( i = 0; i < ${#line}; i++ )); do
        c=${line:i:1}
        if [[ -z $quote && $c == [[:space:]] ]]; then
            word=
            continue
        fi
        if [[ $c == [\"\'] ]]; then
            if [[ -z $quote ]]; then quote=$c; elif [[ $quote == "$c" ]]; then quote=; fi
        fi
        word+=$c
    done
    printf '%s' "$word"
}

# Fills COMPREPLY with the candidates (full words) that start with the typed word, cut to
# the part that bash replaces: what follows an open quote, else what follows the last ":"
# or "=".
_vela_reply() {
    local word=$1 cand keep quotes
    shift
    quotes=${word//[^\"]/}
    if (( ${#quotes} % 2 == 1 )); then
        keep=${word%\"*}\"
    else
        keep=${word%"${word##*[:=]}"}
    fi
    COMPREPLY=()
    for cand in "$@"; do
        [[ ${cand,,} == "${word,,}"* ]] || continue
        cand=${cand:${#keep}}
        (( ${#quotes} % 2 == 0 )) && cand=${cand// /\\ }
        COMPREPLY+=("$cand")
    done
}

# File names for the word after its head ("-qf:", "-cs:@").
_vela_file_reply() {
    local word=$1 head=$2 f list=()
    local IFS=$'\n'
    for f in $(compgen -f -- "${word:${#head}}"); do
        [[ -d $f ]] && f+=/
        list+=("$head$f")
    done
    _vela_reply "$word" "${list[@]}"
    compopt -o nospace 2>/dev/null
}

# Candidates for a connection string being typed: driver names after "Driver=".
_vela_connection_string() {
    local word=$1
    local value=${word##*[;:\"]}
    if [[ ${value,,} == driver=* ]]; then
        local prefix=${word:0:${#word}-${#value}+7} d list=()
        local IFS=$'\n'
        for d in $(_vela_odbc_drivers); do list+=("$prefix$d;"); done
        _vela_reply "$word" "${list[@]}"
        compopt -o nospace 2>/dev/null
        return 0
    fi
    return 1
}

_vela_sqlterm() {
    local word
    word=$(_vela_current_word)
    local lower=${word,,}
    local flag=${lower%%:*}
    case "/${flag#[-/]}" in
        /qf | /query_from_file)
            if [[ $word == *:*,* ]]; then
                local head=${word%,*} cp list=()
                for cp in $_vela_code_pages; do list+=("$head,$cp"); done
                _vela_reply "$word" "${list[@]}"
            else
                _vela_file_reply "$word" "${word%%:*}:"
            fi
            return 0
            ;;
        /rc)
            if [[ $word == *:* ]]; then
                _vela_file_reply "$word" "${word%%:*}:"
                return 0
            fi
            ;;
        /target | /host_order)
            if [[ $word == *:* ]]; then
                local v list=() values="any read-write read-only primary standby"
                [[ $flag == ?host_order ]] && values="listed random"
                for v in $values; do list+=("${word%%:*}:$v"); done
                _vela_reply "$word" "${list[@]}"
                return 0
            fi
            ;;
        /format | /fmt)
            if [[ $word == *:* ]]; then
                local f list=()
                for f in $_vela_formats; do list+=("${word%%:*}:$f"); done
                _vela_reply "$word" "${list[@]}"
                return 0
            fi
            ;;
        /cs | /connection_string)
            if [[ $word == *:@* ]]; then
                # "-cs:@FILE": the string kept in a file.
                _vela_file_reply "$word" "${word%%@*}@"
                return 0
            fi
            _vela_connection_string "$word" && return 0
            COMPREPLY=()
            return 0
            ;;
    esac
    if [[ $word == [-/]* && $word != *:* ]]; then
        local IFS=$'\n' o list=()
        for o in $_vela_sqlterm_options; do list+=("${word:0:1}${o:1}"); done
        _vela_reply "$word" "${list[@]}"
        [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *: ]] && compopt -o nospace 2>/dev/null
        return 0
    fi
    # The older positional form: [dataonly] [cs:<delimiter>] <driver> [parameters] [file].
    COMPREPLY=()
    _vela_connection_string "$word" && return 0
    local -a args
    _vela_words_before "$word"
    local a first=1
    for a in "${args[@]:1}"; do
        [[ ${a,,} == dataonly || ${a,,} == cs:* ]] || first=0
    done
    if (( first )); then
        local IFS=$'\n' d list=()
        for d in $(_vela_odbc_drivers); do list+=("$d"); done
        _vela_reply "$word" "${list[@]}"
        return 0
    fi
    compopt -o default 2>/dev/null
}

# Sets args to the words before the one being completed, quotes removed (never evaluated:
# the line may hold anything).
_vela_words_before() {
    local line=${COMP_LINE:0:COMP_POINT}
    line=${line:0:${#line}-${#1}}
    local word= quote= i c started=0
    args=()
    for (( i = 0; i < ${#line}; i++ )); do
        c=${line:i:1}
        if [[ -z $quote && $c == [[:space:]] ]]; then
            (( started )) && args+=("$word")
            word= started=0
            continue
        fi
        started=1
        if [[ -z $quote && ( $c == \" || $c == \' ) ]]; then
            quote=$c
        elif [[ $c == "$quote" ]]; then
            quote=
        else
            word+=$c
        fi
    done
    (( started )) && args+=("$word")
}

_vela_blobfile() {
    local word
    word=$(_vela_current_word)
    local -a args
    _vela_words_before "$word"
    # -P, -C <folder> and the host options stand before the connection string.
    local first=1
    while (( first < ${#args[@]} )); do
        case ${args[first]} in
            -P | -hosts:* | -target:* | -host_order:* | -retry:*) (( first += 1 )) ;;
            -C) (( first += 2 )) ;;
            *) break ;;
        esac
    done
    if [[ ${args[${#args[@]}-1]} == -C ]]; then
        COMPREPLY=()
        compopt -o dirnames 2>/dev/null
        return
    fi
    case $(( ${#args[@]} - first )) in
        0) case $word in
               -target:*) _vela_reply "$word" -target:{any,read-write,read-only,primary,standby}; return ;;
               -host_order:*) _vela_reply "$word" -host_order:{listed,random}; return ;;
               -*) _vela_reply "$word" -P -C -hosts: -target: -host_order: -retry:
                   [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *: ]] && compopt -o nospace 2>/dev/null
                   return ;;
           esac
           _vela_connection_string "$word" || COMPREPLY=() ;;
        1) _vela_reply "$word" select insert update ;;
        2) COMPREPLY=()
           compopt -o default 2>/dev/null ;;
        *) COMPREPLY=() ;;
    esac
}

complete -F _vela_sqlterm sqlterm
complete -F _vela_blobfile blobfile
