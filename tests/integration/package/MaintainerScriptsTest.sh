#!/bin/sh
# MaintainerScriptsTest.sh DEBIAN_DIR
# Runs the package's postinst, prerm and postrm under DPKG_ROOT in a folder of their own, with
# the commands that change the system (adduser, deluser, delgroup, chown, systemctl,
# dpkg-statoverride, getent, id) replaced by stand-ins that record their calls and keep a
# pretend user database, and checks what each step leaves behind.
set -eu

scripts=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-maint.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root
bin=$work/bin
db=$work/db
calls=$work/calls
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The only commands on PATH: the stand-ins, and the plain tools the scripts may use.
mkdir -p "$bin"
for tool in sh mkdir rm rmdir chmod tr grep cat sed; do
    ln -s "$(command -v "$tool")" "$bin/$tool"
done
stub() {
    printf '#!/bin/sh\necho "%s $*" >>"%s"\n%s\n' "$1" "$calls" "$2" >"$bin/$1"
    chmod +x "$bin/$1"
}
stub getent "grep -qx \"\$1 \$2\" \"$db\""
stub id "[ \"\$1\" = -nG ] && grep -q '^member corvane dialout\$' \"$db\" && echo 'corvane dialout' || echo corvane"
stub adduser "
case \"\$*\" in
*--system*) printf 'passwd corvane\ngroup corvane\n' >>\"$db\" ;;
*) echo \"member \$2 \$3\" >>\"$db\" ;;
esac"
stub deluser "sed -i '/^passwd corvane\$/d; /^member corvane /d' \"$db\""
stub delgroup "sed -i '/^group corvane\$/d' \"$db\""
stub dpkg-statoverride "grep -qx \"override \$2\" \"$db\""
stub chown ":"
stub systemctl ":"

run() {
    : >"$calls"
    env -i PATH="$bin" DPKG_ROOT="$root" sh -e "$scripts/$1" "$2" || fail "$1 $2 exited with $?"
}
called() { grep -q "$1" "$calls"; }
owner_set() { grep -qx "chown $1 $root$2" "$calls"; }

fresh() {
    rm -rf "$root"
    mkdir -p "$root/etc/corvane"
    : >"$db"
}

# A first install on a machine where systemd runs.
fresh
mkdir -p "$root/run/systemd/system"
run postinst configure
grep -qx "passwd corvane" "$db" || fail "postinst made no user corvane"
grep -qx "member corvane dialout" "$db" || fail "postinst did not put corvane in dialout"
called "^adduser --system --group .*--home /var/lib/corvane .*corvane\$" ||
    fail "the user is not a system user with its own group and /var/lib/corvane as home"
[ -d "$root/etc/corvane/lines" ] || fail "no /etc/corvane/lines"
[ -d "$root/var/lib/corvane" ] || fail "no /var/lib/corvane"
owner_set root:corvane /etc/corvane/lines || fail "/etc/corvane/lines not given to root:corvane"
owner_set corvane:corvane /var/lib/corvane || fail "/var/lib/corvane not given to corvane"
[ "$(stat -c %a "$root/var/lib/corvane")" = 2775 ] || fail "/var/lib/corvane is not 2775"
called "^systemctl daemon-reload" || fail "no daemon-reload while systemd runs"

# An upgrade: the user is there already, running lines are left alone.
run postinst configure
called "^adduser" && fail "an upgrade called adduser again: $(cat "$calls")"
called "^systemctl .*\(restart\|stop\)" && fail "an upgrade restarted or stopped lines"

# An administrator's statoverride wins; without systemd nothing is reloaded.
rm -rf "$root/run"
echo "override /var/lib/corvane" >>"$db"
run postinst configure
owner_set corvane:corvane /var/lib/corvane && fail "postinst overrode a dpkg-statoverride"
called "^systemctl" && fail "systemctl called without systemd"

# Removal stops the lines and keeps configuration, inboxes and user; purge takes them away
# but leaves files of the administrator's own in /etc/corvane.
mkdir -p "$root/run/systemd/system"
touch "$root/etc/corvane/lines/mill1.ini" "$root/var/lib/corvane/O0012.NC"
run prerm upgrade
called "^systemctl stop" && fail "prerm upgrade stopped the lines"
run prerm remove
called "^systemctl stop corvane-serve@\*.service" || fail "prerm remove did not stop the lines"
run postrm remove
[ -e "$root/etc/corvane/lines/mill1.ini" ] && [ -e "$root/var/lib/corvane/O0012.NC" ] ||
    fail "remove took line files or inboxes"
grep -qx "passwd corvane" "$db" || fail "remove took the user"
mkdir -p "$root/etc/corvane/machines" && touch "$root/etc/corvane/machines/mill1.MDF"
run postrm purge
[ -e "$root/etc/corvane/lines" ] && fail "purge left /etc/corvane/lines"
[ -e "$root/var/lib/corvane" ] && fail "purge left /var/lib/corvane"
[ -e "$root/etc/corvane/machines/mill1.MDF" ] || fail "purge took a file postinst never made"
grep -q "^\(passwd\|group\|member\) corvane" "$db" && fail "purge left the user or group: $(cat "$db")"
rm -rf "$root/etc/corvane/machines"
run postrm purge
[ -e "$root/etc/corvane" ] && fail "purge left an empty /etc/corvane"

# A purge after adduser itself was removed still succeeds.
fresh
printf 'passwd corvane\ngroup corvane\n' >"$db"
rm "$bin/deluser" "$bin/delgroup"
run postrm purge

if [ "$failures" -ne 0 ]; then
    echo "$failures failures" >&2
    exit 1
fi
echo "maintainer scripts: install, upgrade, remove and purge do what they should"
