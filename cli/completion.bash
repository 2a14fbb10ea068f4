# bash completion for vezovud: the commands, then each command's options,
# and files or folders for the arguments.
_vezovud() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=${COMP_WORDS[COMP_CWORD-1]}
  if [ "$COMP_CWORD" -eq 1 ]; then
    COMPREPLY=($(compgen -W "pack unpack list test help --help --version -h -V" -- "$cur"))
    return
  fi
  local command=${COMP_WORDS[1]} options
  case $command in
    pack)
      options="--output --stub --exclude --exclude-from --follow-links --jobs --quiet --verbose --help -o -x -j -q -v -h"
      case $prev in
        -o|--output|--stub|--exclude-from)
          COMPREPLY=($(compgen -f -- "$cur")); return ;;
        -x|--exclude|-j|--jobs)
          COMPREPLY=(); return ;;
      esac ;;
    unpack)
      options="--destination --jobs --quiet --verbose --help -d -j -q -v -h"
      case $prev in
        -d|--destination)
          COMPREPLY=($(compgen -d -- "$cur")); return ;;
        -j|--jobs)
          COMPREPLY=(); return ;;
      esac ;;
    list)
      options="--long --tsv --json --quiet --help -l -q -h" ;;
    test)
      options="--quiet --verbose --help -q -v -h" ;;
    help)
      if [ "$COMP_CWORD" -eq 2 ]; then
        COMPREPLY=($(compgen -W "pack unpack list test" -- "$cur"))
      fi
      return ;;
    *)
      return ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  else
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}
complete -o filenames -F _vezovud vezovud
