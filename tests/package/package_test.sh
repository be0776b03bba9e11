#!/usr/bin/env bash
# The Debian package as a user gets it: built by CPack from this build, installed with apt on this
# machine, the example survey imported and backcalculated by the installed programs alone (PATH
# without the build folder), and the package removed again with everything apt brought with it.
# The removal runs whatever happens (trap), and the machine's set of installed packages must be
# the same afterwards as before.
#
#   package_test.sh BUILD_DIR SOURCE_DIR
#
# Exit status 77 (skipped) where it cannot run: not Debian, neither root nor password-less sudo,
# or a basinfit package already installed (which it leaves alone).
set -euo pipefail
export PATH="$PATH:/usr/sbin:/sbin"  # ldconfig
build="$(cd "$1" && pwd)"
source_dir="$(cd "$2" && pwd)"

fail() { echo "package test: $*" >&2; exit 1; }
skip() { echo "package test skipped: $*"; exit 77; }

command -v apt-get >/dev/null && command -v dpkg-deb >/dev/null || skip "not a Debian system"
SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  sudo -n true 2>/dev/null || skip "installing a package needs root or password-less sudo"
  SUDO=(sudo -n)
fi
# One package test at a time on a machine, whichever build folder it comes from.
exec 9>/tmp/basinfit-package-test.lock
flock -w 900 9 || fail "another package test still holds /tmp/basinfit-package-test.lock"
if dpkg-query -W -f='${db:Status-Abbrev}' basinfit 2>/dev/null | grep -q '^i'; then
  skip "a basinfit package is installed on this machine already"
fi

installed_packages() {
  dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package} ${Version}\n' | awk '$1 != "un" && $1 != "pn"' | sort
}

work="$(mktemp -d)"
chmod 755 "$work"  # apt reads the package as its own unprivileged user
installed_packages >"$work/before"
touched=0
cleanup() {
  local status=$?
  set +e
  if [ "$touched" = 1 ]; then
    export DEBIAN_FRONTEND=noninteractive
    "${SUDO[@]}" apt-get purge -y -qq -o DPkg::Lock::Timeout=300 basinfit >/dev/null
    # Whatever apt installed for the package goes too.
    mapfile -t brought < <(comm -13 <(awk '{ print $2 }' "$work/before" | sort -u) \
      <(installed_packages | awk '{ print $2 }' | sort -u))
    if [ ${#brought[@]} -gt 0 ]; then
      "${SUDO[@]}" apt-get purge -y -qq -o DPkg::Lock::Timeout=300 "${brought[@]}" >/dev/null
    fi
    if ! diff "$work/before" <(installed_packages) >"$work/package-set.diff"; then
      echo "package test: the installed packages differ from before the test:" >&2
      cat "$work/package-set.diff" >&2
      [ "$status" -eq 0 ] && status=1
    fi
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

version="$("$build/apps/basinfit" --version)"
version="${version#basinfit }"
arch="$(dpkg --print-architecture)"

# Build the package from this build's installation rules.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb="$work/cpack/basinfit_${version}_${arch}.deb"
[ -f "$deb" ] || fail "no $(basename "$deb") from cpack: $(ls "$work/cpack")"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version), tools $version"

# Every shared library the programs load belongs to a package the package depends on, and the
# charts' fonts are there too.  (Here the libraries are installed anyway, so apt alone would
# not notice a missing dependency.)
depends="$(dpkg-deb -f "$deb" Depends)"
depends_names=" $(echo "$depends" | tr ',|' '\n\n' | sed 's/(.*)//; s/:any//' | tr -d ' ' | tr '\n' ' ') "
[[ "$depends_names" == *" fonts-liberation2 "* ]] || fail "Depends lacks fonts-liberation2: $depends"
dpkg-deb -x "$deb" "$work/root"
for tool in basinfit basinfit-import basinfit-model basinfit-batch basinfit-workbench; do
  program="$work/root/usr/bin/$tool"
  [ -x "$program" ] || fail "the package holds no /usr/bin/$tool"
  for library in $(objdump -p "$program" | awk '$1 == "NEEDED" { print $2 }'); do
    # awk reads to the end: leaving early would end ldconfig by SIGPIPE, and pipefail with it.
    path="$(ldconfig -p | awk -v lib="$library" '$1 == lib && path == "" { path = $NF } END { print path }')"
    [ -n "$path" ] || fail "$tool needs $library, which this machine does not have"
    owner=""
    for candidate in "$path" "${path/#\/usr\/lib/\/lib}" "${path/#\/lib/\/usr\/lib}" "$(readlink -f "$path")"; do
      owner="$(dpkg-query -S "$candidate" 2>/dev/null | head -n 1 | cut -d: -f1)" && [ -n "$owner" ] && break
    done
    [ -n "$owner" ] || fail "no package owns $path ($library of $tool)"
    [[ "$depends_names" == *" $owner "* ]] || fail "$tool loads $library from $owner, which Depends lacks: $depends"
  done
done

touched=1
DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq -o DPkg::Lock::Timeout=300 "$deb" \
  >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get install $(basename "$deb") failed"; }

doc=/usr/share/doc/basinfit
for file in /usr/share/man/man1/basinfit.1.gz /usr/share/man/man1/basinfit-import.1.gz \
  /usr/share/man/man1/basinfit-model.1.gz /usr/share/man/man1/basinfit-batch.1.gz /usr/share/man/man1/basinfit-workbench.1.gz "$doc/README.md" "$doc/docs/run-record.schema.json" "$doc/docs/design/README.md" \
  "$doc/examples/pddx/survey.pdx" "$doc/examples/pddx/structure.csv" "$doc/examples/metric/general.dat"; do
  [ -s "$file" ] || fail "the installed package lacks $file"
done
cmp -s "$source_dir/README.md" "$doc/README.md" || fail "$doc/README.md is not this source's README.md"
# The manual pages are the programs' own help.
for option in --results --html --jobs --version; do
  zcat /usr/share/man/man1/basinfit.1.gz | grep -q -- "${option//-/\\\\-}" || fail "basinfit(1) lacks $option"
done
zcat /usr/share/man/man1/basinfit-import.1.gz | grep -q -- '\\-\\-structure' || fail "basinfit-import(1) lacks --structure"

# The example through the installed programs only.
mkdir "$work/user"
installed() { (cd "$work/user" && env -i HOME="$work/user" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"); }
for tool in basinfit basinfit-import basinfit-model basinfit-batch basinfit-workbench; do
  [ "$(installed sh -c "command -v $tool")" = "/usr/bin/$tool" ] || fail "$tool is not /usr/bin/$tool on the PATH"
  [ "$(installed "$tool" --version)" = "$tool $version" ] || fail "$tool --version: $(installed "$tool" --version)"
done
installed basinfit-import "$doc/examples/pddx/survey.pdx" --structure "$doc/examples/pddx/structure.csv" \
  --out route12 >"$work/import.out" || fail "basinfit-import of the installed example failed"
grep -qx "cd route12 && basinfit --keep-control --station-table $work/user/route12/station-table.csv control.txt" \
  "$work/import.out" ||
  fail "the importer does not print the installed engine's command: $(tail -n 1 "$work/import.out")"
cp -r "$work/user/route12" "$work/built"
installed sh -c 'cd route12 && basinfit --keep-control --station-table station-table.csv --results results --html survey.html control.txt' ||
  fail "the installed engine failed on the example"

# One version everywhere: the run record and the page say the tools' version.
recorded="$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["engine"]["version"])' \
  "$work/user/route12/results/run.json")"
[ "$recorded" = "$version" ] || fail "run.json gives version $recorded, the tools $version"
grep -q "<meta name=\"generator\" content=\"basinfit $version " "$work/user/route12/survey.html" ||
  fail "the survey page does not name basinfit $version"

# The installed engine gives the same reports and results as the one of this build.
(cd "$work/built" && "$build/apps/basinfit" --keep-control --station-table station-table.csv --results results control.txt) ||
  fail "the build's engine failed on the example"
for file in detail.txt summary.txt results/drops.csv results/sensors.csv results/stations.csv; do
  cmp -s "$work/built/$file" "$work/user/route12/$file" || fail "$file differs between the installed and the built engine"
done
# The installed batch program runs the example as a network of one survey, with the same reports.
printf 'name,source,structure\nroute12,%s,%s\n' "$doc/examples/pddx/survey.pdx" "$doc/examples/pddx/structure.csv" \
  >"$work/user/network.csv"
installed basinfit-batch run network.csv --out net 2>"$work/batch.err" ||
  fail "the installed basinfit-batch failed on the example: $(cat "$work/batch.err")"
cmp -s "$work/user/net/surveys/route12/detail.txt" "$work/user/route12/detail.txt" ||
  fail "basinfit-batch's detail report differs from the installed engine's"
[ -s "$work/user/net/results.sqlite" ] || fail "basinfit-batch wrote no results.sqlite"
echo "package test: $(basename "$deb") installed, ran the example and was removed; depends on $depends"
