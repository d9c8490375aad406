#!/bin/sh
# Installs the Debian packages named on the command line that are not installed yet,
# quietly, with sudo when not root. Another package manager at work (an upgrade, a
# second install) is waited for instead of failing at once.
#     scripts/install-packages.sh PACKAGE...
set -eu
missing=""
for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing="$missing $package"
done
[ -n "$missing" ] || exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
wait_seconds=${APT_WAIT_SECONDS:-1800}

# apt-get install waits for the dpkg lock by itself; apt-get update does not, so it is
# tried again while another program holds the package lists.
waited=0
until output=$($sudo apt-get update -qq 2>&1); do
    case "$output" in
    *"Could not get lock"*|*"Unable to lock"*|*"is held by process"*)
        [ "$waited" -lt "$wait_seconds" ] || { echo "$output" >&2; exit 1; }
        [ "$waited" -gt 0 ] || echo "Waiting for another package manager to finish..."
        sleep 5
        waited=$((waited + 5)) ;;
    *)
        echo "$output" >&2
        exit 1 ;;
    esac
done
echo "Installing:$missing"
# shellcheck disable=SC2086
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout="$wait_seconds" $missing >/dev/null
