# Sourced by the scripts that start a sample client under Wine. The client prints its Windows
# process id (not the Linux one) on its first line; this waits for it.
# Usage: client_pid=$(wait_for_client_pid FILE TENTHS_OF_A_SECOND)
wait_for_client_pid() {
    tries=0
    until [ -s "$1" ]; do
        tries=$((tries + 1))
        [ $tries -le "$2" ] || { echo "the client did not start" >&2; exit 1; }
        sleep 0.1
    done
    tr -d '\r\n' <"$1"
}
