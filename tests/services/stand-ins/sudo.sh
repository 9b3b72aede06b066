# Behaves as Debian's sudo does without a terminal: a grant is cached per parent process ("-v" makes
# one, "-k" ends it), a missing grant asks the askpass dialog up to three times, an empty answer is a
# cancel. Every call leaves "PARENT MODE cached|asked" in `log`. Files in the state folder change it:
# "refuse" (this account may not use sudo), "die" (killed by a signal).
# The test writes it with the path of its state folder in place of the placeholder below.
state='%1'
prompt=
mode=
while [ "$#" -gt 0 ]; do
    case "$1" in
        -p) prompt=$2; shift 2 ;;
        -v) mode=validate; shift ;;
        -k) mode=release; shift ;;
        --) mode=run; shift; break ;;
        *) shift ;;
    esac
done
[ -e "$state/die" ] && kill -TERM $$
key="$state/grant-$PPID"
if [ "$mode" = release ]; then rm -f "$key"; echo "$PPID release" >> "$state/log"; exit 0; fi
[ -e "$state/refuse" ] && { echo "Sorry, user may not run sudo" >&2; exit 1; }
if [ -e "$key" ]; then
    echo "$PPID $mode cached" >> "$state/log"
else
    echo "$PPID $mode asked" >> "$state/log"
    tries=0
    while :; do
        answer=$("$SUDO_ASKPASS" "$prompt")
        [ -n "$answer" ] || { echo "sudo: no password was provided" >&2; exit 1; }
        [ "$answer" = secret ] && break
        tries=$((tries + 1))
        [ "$tries" -lt 3 ] || { echo "sudo: 3 incorrect password attempts" >&2; exit 1; }
    done
    : > "$key"
fi
[ "$mode" = run ] && exec "$@"
exit 0
