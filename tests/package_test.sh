#!/bin/sh
# Makes the .deb, unpacks it into an empty root and runs the tools from
# there: what `apt install ./varkel-tools_*.deb` would put on a machine.
# Usage: package_test.sh BUILD_DIR VERSION
set -eu
build=$1 version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; exit 1; }
deb=$(ls "$work"/out/varkel-tools_*.deb)
dpkg-deb --field "$deb" Package Version Depends
dpkg -x "$deb" "$work/root"
for file in usr/bin/varkel-sim usr/bin/varkel-check usr/share/man/man1/varkel-sim.1.gz \
    usr/share/man/man1/varkel-check.1.gz usr/share/bash-completion/completions/varkel-sim \
    usr/share/bash-completion/completions/varkel-check usr/share/doc/varkel-tools/copyright \
    usr/share/doc/varkel-tools/changelog.gz usr/lib/varkel/libvarkel-sim-agent.so; do
    [ -e "$work/root/$file" ] || { echo "package_test: $file is missing" >&2; exit 1; }
done
# Debian's checker: no errors (it warns that it runs as root, and of the
# ldconfig call cpack adds for the agent's folder).
lintian --fail-on error "$deb"
[ "$("$work/root/usr/bin/varkel-sim" --version)" = "varkel-sim $version" ]
[ "$("$work/root/usr/bin/varkel-check" --version | head -n 1)" = "varkel-check $version" ]
"$work/root/usr/bin/varkel-sim" --time virtual --quiet --strict 2>"$work/summary.txt"
tail -n 1 "$work/summary.txt"
bash -c ". '$work/root/usr/share/bash-completion/completions/varkel-sim'; COMP_WORDS=(varkel-sim --fa); COMP_CWORD=1; _varkel_sim; [ \"\${COMPREPLY[*]}\" = --fault ]"
echo "package_test: $(basename "$deb") installs and runs"
