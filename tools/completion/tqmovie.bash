# SPDX-License-Identifier: MIT
# bash completion for tqmovie and tqmovie-mock-service. Installed as
# share/bash-completion/completions/tqmovie and .../tqmovie-mock-service; to try it
# from a checkout: source tools/completion/tqmovie.bash
# It needs nothing from the bash-completion package.

_tqmovie() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands="is-movie basic detail basics details translations scan cache help"
    local general="--fixtures --host --stub --json --json-lines --full --retry --max-wait --deadline --cache
        --cache-limit --store --no-store --refresh --offline --stale-if-error --parallel --rate-limit --help
        --version --language-fallback --verbose"
    local http="--connect-timeout --timeout --cacert --capath --proxy --max-body"
    local cmd="" i w

    # The command is the first word that is neither an option nor an option's value.
    for ((i = 1; i < COMP_CWORD; i++)); do
        w=${COMP_WORDS[i]}
        case $w in
        --) break ;;
        --fixtures | --host | --language | --sections | --batch-size | --lang | --region | --cache-limit | \
            --connect-timeout | --timeout | --cacert | --capath | --proxy | --max-body | --cache | --retry | \
            --max-wait | --deadline | --parallel | --rate-limit | --store | --stale-if-error | --language-fallback)
            ((i++)) ;;
        -*) ;;
        *)
            cmd=$w
            break
            ;;
        esac
    done

    case $prev in
    --fixtures | --capath)
        COMPREPLY=($(compgen -d -- "$cur"))
        return
        ;;
    --cacert | --cache | --store)
        COMPREPLY=($(compgen -f -- "$cur"))
        return
        ;;
    --host | --proxy)
        COMPREPLY=($(compgen -W "https:// http://127.0.0.1:" -- "$cur"))
        compopt -o nospace 2>/dev/null
        return
        ;;
    --sections)
        # A comma-separated list: complete the part after the last comma.
        local done_part=${cur%"${cur##*,}"}
        COMPREPLY=($(compgen -P "$done_part" -W "cast pictures providers videos all" -- "${cur##*,}"))
        compopt -o nospace 2>/dev/null
        return
        ;;
    --language)
        COMPREPLY=($(compgen -W "en-US de-DE fr-FR es-ES ja-JP zh-CN pt-BR" -- "$cur"))
        return
        ;;
    --lang)
        COMPREPLY=($(compgen -W "zh de fr es ja en" -- "$cur"))
        return
        ;;
    --region)
        COMPREPLY=($(compgen -W "CN DE FR ES JP US" -- "$cur"))
        return
        ;;
    --batch-size | --cache-limit | --connect-timeout | --timeout | --max-body | --retry | --max-wait | --deadline | \
        --parallel | --rate-limit | --stale-if-error)
        return
        ;;
    esac

    if [[ $cur == -* ]]; then
        local own=""
        case $cmd in
        basic) own="--language" ;;
        detail) own="--language --sections" ;;
        basics) own="--batch-size --progress --no-progress" ;;
        details) own="--batch-size --sections --progress --no-progress" ;;
        translations) own="--lang --region" ;;
        scan) own="--details --no-lookup --sections --batch-size --progress --no-progress" ;;
        esac
        # The transport options go with --host.
        [[ " ${COMP_WORDS[*]} " == *" --host "* ]] && own="$own $http"
        COMPREPLY=($(compgen -W "$general $own" -- "$cur"))
        return
    fi
    if [[ -z $cmd ]]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    elif [[ $cmd == scan ]]; then
        COMPREPLY=($(compgen -d -- "$cur"))
    elif [[ $cmd == cache && $prev == cache ]]; then
        COMPREPLY=($(compgen -W "list count clear vacuum import export" -- "$cur"))
    elif [[ $cmd == cache && ($prev == import || $prev == export) ]]; then
        COMPREPLY=($(compgen -f -- "$cur"))
    elif [[ $cmd == help ]]; then
        COMPREPLY=($(compgen -W "${commands% help}" -- "$cur"))
    fi
    # Ids are the user's: nothing to offer.
}

_tqmovie_mock_service() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    case $prev in
    --fixtures)
        COMPREPLY=($(compgen -d -- "$cur"))
        return
        ;;
    --port | --rate-limit-first | --rate-limit-every | --retry-after | --unavailable-first | \
        --unavailable-every | --delay | --drop-every)
        return
        ;;
    esac
    COMPREPLY=($(compgen -W "--port --fixtures --verbose --help --version --rate-limit-first --rate-limit-every
        --retry-after --unavailable-first --unavailable-every --delay --drop-every" -- "$cur"))
}

complete -F _tqmovie tqmovie
complete -F _tqmovie_mock_service tqmovie-mock-service
