#!/bin/bash
# Installs the model server's runtime and the model files into the brain home.
#
#   /bin/bash install.sh                  runtime, manifest and model files
#   /bin/bash install.sh --neural-engine  builds the model's neural-engine half
#
# The brain home is KAVRI_BRAIN_HOME (the application always sets it), else
# "brain" in the application-support folder. The runtime counts as installed
# once <home>/zelvo-0/optimized/mlx/.venv/bin/python exists; here it is a link
# to the system's python3. The network half (manifest and model files) is
# install_fetch.py beside this script.
#
# Output lines, each in one write:
#   ::stage runtime | python | weights | local
#   ::weight <done> of <total> gb
#   ::error <reason>
# Exit status 0 on success; 3 for no key, a failed fetch or a bad manifest; 4
# for a model file of the wrong size.
#
# Test knobs, read from the environment only:
#   KAVRI_INSTALL_EXIT         exit with this status right after the runtime stage
#   KAVRI_INSTALL_ERROR        print "::error <value>" after the runtime stage, exit 1
#   KAVRI_INSTALL_HANG         when "1", hang after the runtime stage in a
#                              sleeping child that has a sleeping child of its own
#   KAVRI_INSTALL_NEURAL_FAIL  the "--neural-engine" run fails with this status
#   KAVRI_INSTALL_SILENCE      seconds the content service may stay silent
#                              before the run fails (default 30)
# The stand-in model server's KAVRI_BRAIN_FAST=until-built reports the neural
# engine missing until "--neural-engine" has run.

set -u

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
home="${KAVRI_BRAIN_HOME:-}"
if [[ -z "$home" ]]; then
    home="${XDG_DATA_HOME:-${HOME}/.local/share}/KavriZelvo/brain"
fi
runtime="$home/zelvo-0/optimized/mlx"

say() {
    printf '%s\n' "$1"
}

# The one background child; a SIGTERM to this script ends it too (bash runs a
# trap only once the foreground command is over, so children run in the
# background and are waited for).
child=0
on_term() {
    if ((child > 0)); then
        kill -TERM "$child" 2>/dev/null
        wait "$child" 2>/dev/null
    fi
    exit 143
}
trap on_term TERM

run() {
    "$@" &
    child=$!
    wait "$child"
    local status=$?
    child=0
    return "$status"
}

if [[ "${1:-}" == "--neural-engine" ]]; then
    say "building the neural-engine half of zelvo-0"
    say "compiling for this machine"
    run sleep 0.3
    if [[ -n "${KAVRI_INSTALL_NEURAL_FAIL:-}" ]]; then
        say "neural-engine build failed"
        exit "${KAVRI_INSTALL_NEURAL_FAIL}"
    fi
    if ! mkdir -p "$runtime" || ! : >"$runtime/neural-engine.ok"; then
        say "couldn't write $runtime/neural-engine.ok"
        exit 1
    fi
    say "neural-engine half ready"
    exit 0
fi

say "::stage runtime"
# The interpreter itself, not a launcher script that picks one by the folder
# it runs in.
python="$(python3 -c 'import sys; print(sys.executable)' 2>/dev/null || true)"
if [[ -z "$python" ]]; then
    say "::error python3 isn't installed"
    exit 3
fi
if ! mkdir -p "$runtime/.venv/bin" || ! ln -sfn "$python" "$runtime/.venv/bin/python"; then
    say "::error couldn't set up the runtime in $runtime"
    exit 3
fi
say "::stage python"

if [[ -n "${KAVRI_INSTALL_EXIT:-}" ]]; then
    exit "${KAVRI_INSTALL_EXIT}"
fi
if [[ -n "${KAVRI_INSTALL_ERROR:-}" ]]; then
    say "::error ${KAVRI_INSTALL_ERROR}"
    exit 1
fi
if [[ "${KAVRI_INSTALL_HANG:-}" == "1" ]]; then
    run /bin/bash -c 'sleep 300 & wait'
    exit 1
fi

run python3 "$here/install_fetch.py" "$home"
status=$?
if ((status != 0)); then
    exit "$status"
fi

say "::stage local"
exit 0
