#!/usr/bin/env bash
# Runs the whole test suite against extension modules built with AddressSanitizer
# and UndefinedBehaviorSanitizer. The package is installed into a private virtual
# environment (build/sanitize-venv, built in build/sanitize) that borrows the
# dependencies of the given Python's environment, so nothing is downloaded.
#
# Usage: tools/sanitize_tests.sh [python] [pytest args...]
# Exits non-zero when a test fails or a sanitizer reports anything.
set -euo pipefail
cd "$(dirname "$0")/.."
python=${1:-python3}
shift || true

venv=build/sanitize-venv
if [ ! -x "$venv/bin/python" ]; then
  "$python" -m venv "$venv"
fi
# The dependencies (and the build backend) come from the given Python's environment.
"$python" -c 'import site; print("\n".join(site.getsitepackages()))' \
  > "$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')/borrowed-deps.pth"

"$venv/bin/python" -m pip install --quiet --no-deps --no-build-isolation --force-reinstall \
  -C cmake.define.VB_SANITIZE=ON -C cmake.build-type=RelWithDebInfo -C build-dir=build/sanitize .

# The interpreter itself is not instrumented: the runtimes are preloaded so that
# they come first, and leak checking is off (CPython keeps memory until exit).
libasan=$(g++ -print-file-name=libasan.so)
libubsan=$(g++ -print-file-name=libubsan.so)
# A report ends the process that made it. AddressSanitizer writes it to a file
# of its own, so that one of a child process whose failure a test expected is
# seen too; undefined behaviour (built not to recover) is reported on stderr,
# which pytest is told to leave alone (it would swallow that of a dying process).
reports=$PWD/build/sanitize-reports
rm -rf "$reports" && mkdir -p "$reports"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:print_stacktrace=1:strict_string_checks=1:detect_stack_use_after_return=1:log_path=$reports/asan
export UBSAN_OPTIONS=print_stacktrace=1
# Python objects come from malloc too, so a use of a freed object is caught.
export PYTHONMALLOC=malloc

# Run from the tests folder so the sources under src/ (with the developer build's
# modules) stay out of the way of the installed package.
cd tests
LD_PRELOAD="$libasan $libubsan" "../$venv/bin/python" -c \
  'import velmo_brevant.utils.utils as u, sys; sys.exit(0 if "/sanitize-venv/" in u.__file__ else "not the sanitized build: " + u.__file__)'
status=0
LD_PRELOAD="$libasan $libubsan" "../$venv/bin/python" -m pytest -p no:cacheprovider --capture=sys \
  -q "${@:-.}" 2>&1 | tee "$reports/pytest.log" || status=$?
if grep -q "runtime error:" "$reports/pytest.log" || ls "$reports"/asan.* > /dev/null 2>&1; then
  cat "$reports"/asan.* 2> /dev/null || true
  echo "sanitizer reports: see above and $reports" >&2
  exit 1
fi
exit $status
