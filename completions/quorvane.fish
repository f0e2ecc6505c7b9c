# fish completion for quorvane: its options, the values of those with a fixed set, file names
# after --settings, that file's section names after --section, process ids after --pid and the
# named network namespaces after --netns.

# The section names of the settings file given earlier on the line.
function __quorvane_sections
    set -l tokens (commandline -opc)
    set -l file
    for i in (seq (count $tokens))
        switch $tokens[$i]
            case '--settings=*'
                set file (string replace -- --settings= '' $tokens[$i])
            case --settings
                set -l next (math $i + 1)
                set -q tokens[$next]; and set file $tokens[$next]
        end
    end
    set file (string replace -r '^~' $HOME -- $file)
    test -f "$file" -a -r "$file"; or return
    string replace -rf '^\s*\[([^]]*)\].*' '$1' <$file
end

complete -c quorvane -f
complete -c quorvane -s t -l tcp -d 'TCP endpoints only'
complete -c quorvane -s u -l udp -d 'UDP endpoints only'
complete -c quorvane -s 4 -l ipv4 -d 'IPv4 endpoints only'
complete -c quorvane -s 6 -l ipv6 -d 'IPv6 endpoints only'
complete -c quorvane -s l -l listening -d 'Listening TCP and unconnected UDP sockets only'
complete -c quorvane -s n -l numeric -d 'No look-ups: addresses and port numbers'
complete -c quorvane -s r -l resolve -d 'Accepted for habit: names are looked up unless -n'
complete -c quorvane -s a -l all -d 'Accepted for habit: every endpoint is listed anyway'
complete -c quorvane -s p -l processes -d 'Accepted for habit: every owner is listed anyway'
complete -c quorvane -l format -x -a 'text json csv' -d 'Output format'
complete -c quorvane -l template -x -d 'Lay out each endpoint through a template'
complete -c quorvane -l settings -r -F -d "Load a meter's settings from a file"
complete -c quorvane -l section -x -a '(__quorvane_sections)' -d 'Section of the settings file'
complete -c quorvane -l meter -d "The meter's own listing"
complete -c quorvane -l state -x -d 'TCP endpoints in this state only' -a 'established syn-sent
    syn-recv fin-wait-1 fin-wait-2 time-wait closed close close-wait last-ack listen listening
    closing all connected synchronized bucket big'
complete -c quorvane -l port -x -d 'Endpoints whose local or remote port is this (number, range or name)'
complete -c quorvane -l address -x -d 'Endpoints whose local or remote address is in this range'
complete -c quorvane -l local -x -d 'Endpoints whose local address is in this range'
complete -c quorvane -l remote -x -d 'Endpoints whose remote address is in this range'
complete -c quorvane -l not-state -x -d 'Leave out TCP endpoints in this state' -a 'established
    syn-sent syn-recv fin-wait-1 fin-wait-2 time-wait closed close close-wait last-ack listen
    listening closing all connected synchronized bucket big'
complete -c quorvane -l not-port -x -d 'Leave out endpoints with this port at either end'
complete -c quorvane -l not-address -x -d 'Leave out endpoints with an address in this range'
complete -c quorvane -l not-local -x -d 'Leave out endpoints whose local address is in this range'
complete -c quorvane -l not-remote -x -d 'Leave out endpoints whose remote address is in this range'
complete -c quorvane -l not-pid -x -a '(__fish_complete_pids)' -d 'Leave out the endpoints of this process'
complete -c quorvane -l not-program -x -d 'Leave out the endpoints of this program'
complete -c quorvane -l pid -x -a '(__fish_complete_pids)' -d 'Endpoints of this process'
complete -c quorvane -l program -x -d 'Endpoints of the program with this file name'
complete -c quorvane -s s -l summary -d 'Counts instead of a listing'
complete -c quorvane -l container -x -d 'Endpoints of the container with this name or id'
complete -c quorvane -l unit -x -d 'Endpoints of processes in this systemd unit'
complete -c quorvane -l user -x -a '(__fish_complete_users)' -d 'Endpoints of sockets this user owns'
complete -c quorvane -s e -l extended -d 'Who owns each endpoint: user, unit, container'
complete -c quorvane -l header -d 'A header line in a pipe too'
complete -c quorvane -s H -l no-header -d 'No header line'
complete -c quorvane -l watch -d 'List again every SECONDS until Ctrl-C'
complete -c quorvane -l no-color -d 'Mark changes with + and - instead of colours'
complete -c quorvane -l log-traffic -x -d 'Traffic events in the connection log at most every SECONDS'
complete -c quorvane -s i -l info -d 'Queues, round trip and bytes of each socket'
complete -c quorvane -l sort -x -a 'rate bytes rtt port pid program state' -d 'Order the endpoints'
complete -c quorvane -l top -x -d 'The first N endpoints only'
complete -c quorvane -l serve -x -d 'Serve metrics to Prometheus over HTTP at [ADDRESS:]PORT'
complete -c quorvane -l serve-interval -x -d 'Refresh the metrics every SECONDS'
complete -c quorvane -s A -l all-namespaces -d "Every network namespace's endpoints"
complete -c quorvane -l netns -x -a '(path basename /run/netns/* 2>/dev/null)' -d 'Endpoints of this network namespace'
complete -c quorvane -s h -l help -d 'Show the options'
complete -c quorvane -s V -l version -d 'Show the version'
