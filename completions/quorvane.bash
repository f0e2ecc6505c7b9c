# bash completion for quorvane: its options, the values of those with a fixed set, file names
# after --settings, that file's section names after --section, process ids after --pid,
# service names after --port and the named network namespaces after --netns.

_quorvane_options='-t --tcp -u --udp -4 --ipv4 -6 --ipv6 -l --listening -n --numeric
  -r --resolve -s --summary --address --local --remote --not-state --not-port --not-address
  --not-local --not-remote --not-pid --not-program
  -a --all -p --processes --format --template --settings --section --meter --state --port --pid
  --program --summary --header -H --no-header --watch --no-color -i --info --sort --top --serve
  -e --extended --container --unit --user
  --serve-interval -A --all-namespaces --netns -h --help -V --version
  --log-traffic'
_quorvane_formats='text json csv'
_quorvane_sort_keys='rate bytes rtt port pid program state'
_quorvane_states='established syn-sent syn-recv fin-wait-1 fin-wait-2 time-wait closed close
  close-wait last-ack listen listening closing all connected synchronized bucket big'

# The section names of the settings file given earlier on the line, one a line.
_quorvane_sections() {
  local i file=
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      --settings=*) file=${words[i]#--settings=} ;;
      --settings) file=${words[i + 1]} ;;
    esac
  done
  # The word as typed, unquoted without evaluating it (bash-completion's dequote would run any
  # command substitution in it).
  case $file in
    \'*\') file=${file:1:-1} ;;
    \"*\") file=${file:1:-1} ;;
    *) file=$(sed 's/\\\(.\)/\1/g' <<<"$file") ;;
  esac
  [[ $file ]] || return
  __expand_tilde_by_ref file
  [[ -f $file && -r $file ]] || return
  sed -n 's/^[[:space:]]*\[\([^]]*\)\].*/\1/p' -- "$file"
}

_quorvane() {
  local cur prev words cword split
  _init_completion -s || return

  case $prev in
    --format)
      mapfile -t COMPREPLY < <(compgen -W "$_quorvane_formats" -- "$cur")
      return ;;
    --state | --not-state)
      mapfile -t COMPREPLY < <(compgen -W "$_quorvane_states" -- "$cur")
      return ;;
    --sort)
      mapfile -t COMPREPLY < <(compgen -W "$_quorvane_sort_keys" -- "$cur")
      return ;;
    --settings)
      _filedir
      return ;;
    --section)
      local IFS=$'\n'
      mapfile -t COMPREPLY < <(compgen -W "$(_quorvane_sections)" -- "$cur")
      return ;;
    --pid | --not-pid)
      _pids
      return ;;
    --port | --not-port)
      _services
      return ;;
    --netns)
      mapfile -t COMPREPLY < <(compgen -W "$(ls /run/netns 2>/dev/null)" -- "$cur")
      return ;;
    --user)
      mapfile -t COMPREPLY < <(compgen -u -- "$cur")
      return ;;
    --container | --unit)
      return ;;
    --template | --program | --top | --serve | --serve-interval | --address | --local | \
      --remote | --not-address | --not-local | --not-remote | --not-program)
      return ;;
    --log-traffic)
      return ;;
  esac
  $split && return

  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$_quorvane_options" -- "$cur")
  fi
} &&
  complete -F _quorvane quorvane
