#!/usr/bin/env python3
"""End-to-end tests: the built xsndconv executable run on real files in a temporary folder.

One table of cases serves every way of running the executable: natively, or as a Windows
program under Wine (--wine LOADER), where paths are passed in their Windows spelling (Z:\\...).
Each case prepares files, runs the tool with standard input closed, and checks the console
output, the exit code and the files left behind, byte for byte.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import traceback

from e2e_cases import CASES

class Runner:
    """Runs the executable natively or under Wine and maps paths accordingly."""

    def __init__(self, exe, wine=None, sanitized=False):
        self.exe = exe
        self.wine = wine
        self.sanitized = sanitized

    @property
    def windows(self):
        return self.wine is not None

    @property
    def sep(self):
        """The separator the tool puts between directory and file name."""
        return "\\" if self.windows else "/"

    def arg_path(self, host_path):
        """The spelling of a host path that the tool receives on its command line."""
        if not self.windows:
            return host_path
        return "Z:" + os.path.abspath(host_path).replace("/", "\\")

    def shown(self, text):
        """The bytes by which the tool names a path it was given as text: natively the file
        system's bytes; under Wine the ANSI code page (1252 in the locale set in env())."""
        return text.encode("cp1252") if self.windows else os.fsencode(text)

    def command(self, args, wrapper=()):
        """The command line; `wrapper` (such as faketime and its options) goes in front."""
        return list(wrapper) + ([self.wine] if self.windows else []) + [self.exe] + list(args)

    def env(self, extra=None):
        env = dict(os.environ, **(extra or {}))
        if self.windows:
            env["WINEDEBUG"] = "-all"
            # Unix names in UTF-8 and the ANSI code page 1252 inside Wine, whatever the caller's
            # locale, so that a non-ASCII name maps to known bytes on both sides.
            env["LC_ALL"] = "C.UTF-8"
            # Nothing here needs Mono or Gecko; Wine must not try to fetch them.
            env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
        return env

    def run(self, args, cwd=None, stdin_data=None, wrapper=(), extra_env=None):
        """Runs the tool; returns (exit code, stdout text with line ends as on Linux)."""
        command, env = self.command(args, wrapper), self.env(extra_env)
        if self.windows:
            return self._run_wine(command, env, cwd, stdin_data)
        kwargs = dict(cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        if stdin_data is not None:
            kwargs["input"] = stdin_data
        else:
            # Standard input really closed: the wait for ENTER must end at once.
            kwargs["stdin"] = subprocess.DEVNULL
            kwargs["preexec_fn"] = lambda: os.close(0)
        result = subprocess.run(command, **kwargs)
        # The tool never writes to standard error; natively anything there is a fault, such as a
        # sanitizer's report. (Wine may print notes of its own there, so it is not read there.)
        if result.stderr:
            raise AssertionError("standard error: " + result.stderr.decode("utf-8", "replace")[:6000])
        return result.returncode, result.stdout

    def _run_wine(self, command, env, cwd, stdin_data):
        # Output goes to a file, not a pipe: the first program of a Wine session also starts
        # Wine's services, which inherit its standard handles and keep a pipe open after the
        # program has ended.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as stdin_file:
            if stdin_data is not None:
                stdin_file.write(stdin_data)
                stdin_file.seek(0)
            result = subprocess.run(command, cwd=cwd, env=env,
                                    stdin=stdin_file if stdin_data is not None else subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.DEVNULL, timeout=120)
            out.seek(0)
            # The C runtime writes "\n" as "\r\n" in text mode; nothing else may differ.
            return result.returncode, out.read().replace(b"\r\n", b"\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine", help="the wine64 loader; runs the .exe as a Windows program")
    parser.add_argument("--sanitized", action="store_true",
                        help="the executable carries sanitizer runtimes (no LD_PRELOAD tricks)")
    parser.add_argument("-k", dest="filter", help="run only cases whose name contains this")
    options = parser.parse_args()

    runner = Runner(os.path.abspath(options.exe), options.wine, options.sanitized)
    if runner.windows and "WINEPREFIX" not in os.environ:
        print("note: WINEPREFIX is not set; Wine uses (and, the first time, makes) ~/.wine")
    failures = []
    skipped = []
    count = 0
    for case in CASES:
        name = case.__name__
        if options.filter and options.filter not in name:
            continue
        count += 1
        with tempfile.TemporaryDirectory(prefix="xsndconv-e2e-") as folder:
            try:
                outcome = case(runner, folder)
            except AssertionError as error:
                failures.append((name, str(error) or traceback.format_exc()))
                print(f"FAIL {name}: {error}")
                continue
            except Exception:  # a broken case must not hide the others
                failures.append((name, traceback.format_exc()))
                print(f"ERROR {name}:\n{traceback.format_exc()}")
                continue
        if isinstance(outcome, str) and outcome.startswith("skip"):
            skipped.append((name, outcome))
            print(f"SKIP {name}: {outcome}")
        else:
            print(f"ok   {name}")
    print(f"{count - len(failures) - len(skipped)} passed, {len(skipped)} skipped, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
