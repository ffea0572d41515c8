#!/usr/bin/env python3
"""Runs the shell examples of the README as written from the repository root
and compares the output shown under each with what the command prints.

    check_readme_examples.py README.md BIN_DIR

The examples run in a scratch folder whose build/bin is BIN_DIR. An example
is a line of an indented block that starts with build/bin/, head or tail,
with its continuations; the indented lines that follow it, after a blank
line or none, are its output, where "..." stands for any lines. Shown lines must appear
in the output in the order shown. An output that holds an "Error:" line
means the command must fail with that line on standard error.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

COMMAND_START = re.compile(r"^(build/bin/|head |tail |chromium |xterm )")

# Commands that cannot run here, and why.
SKIPPED = {
    "chromium ": "opens a window",
    "xterm ": "opens a window",
    "build/bin/spawnwrap ": "waits to be killed once its program ends",
}
# Commands that print on standard error, and whose next indented block
# describes them rather than shows their output.
HELP = re.compile(r"^build/bin/\S+ --help\b")


def quotes_open(text):
    return text.count("'") % 2 == 1


def examples(readme_lines):
    """Yields (line number, command, shown output lines or None)."""
    i = 0
    n = len(readme_lines)
    while i < n:
        line = readme_lines[i]
        if not line.startswith("    ") or not COMMAND_START.match(line[4:]):
            i += 1
            continue
        start = i
        command = line[4:]
        i += 1
        while (command.endswith("\\") or command.endswith("|") or quotes_open(command)) and i < n:
            command += "\n" + readme_lines[i][4:]
            i += 1
        output = None
        first = i + 1 if i < n and readme_lines[i] == "" else i
        if (first < n and readme_lines[first].startswith("    ")
                and not COMMAND_START.match(readme_lines[first][4:])):
            output = []
            i = first
            while i < n and (readme_lines[i] == "" or readme_lines[i].startswith("    ")):
                if readme_lines[i].startswith("    ") and COMMAND_START.match(readme_lines[i][4:]):
                    break
                output.append(readme_lines[i][4:])
                i += 1
            while output and output[-1] == "":
                output.pop()
        yield start + 1, command, output


def shown_in_order(shown, actual):
    """The first shown line that is missing from actual in the order shown."""
    position = 0
    for line in shown:
        if line.strip() in ("", "..."):
            continue
        try:
            position = actual.index(line, position) + 1
        except ValueError:
            return line
    return None


def main():
    readme, bin_dir = sys.argv[1], os.path.abspath(sys.argv[2])
    with open(readme, encoding="utf-8") as f:
        lines = f.read().split("\n")
    found = list(examples(lines))
    # The files that the examples read are written by examples too, further
    # down: run those first.
    writers = []
    for target in ("-o build/model.smp", "-o build/demo.smp"):
        writers += [e for e in found if target in e[1]][:1]
    if len(writers) != 2:
        print("expected the examples that write build/model.smp and build/demo.smp")
        return 1

    failures = 0
    checked = 0
    with tempfile.TemporaryDirectory() as scratch:
        os.mkdir(os.path.join(scratch, "build"))
        os.symlink(bin_dir, os.path.join(scratch, "build", "bin"))
        for number, command, output in writers + found:
            skip = next((why for start, why in SKIPPED.items() if command.startswith(start)), None)
            if skip:
                continue
            tool = re.match(r"\S+", command.split("|")[-1].strip()).group(0)
            if "jq " in command and shutil.which("jq") is None:
                print(f"README.md:{number}: skipped, jq is not installed")
                continue
            run = subprocess.run(["bash", "-c", command], cwd=scratch, capture_output=True,
                                 text=True, errors="replace", timeout=300)
            checked += 1
            is_help = HELP.match(command) is not None
            shown = output if output is not None and not is_help else []
            errors = [l for l in shown if l.startswith("Error:")]
            problem = None
            if errors:
                if run.returncode == 0:
                    problem = "succeeded, but the README shows it failing"
                elif errors[-1] not in run.stderr.split("\n"):
                    problem = f"stderr lacks {errors[-1]!r}:\n{run.stderr}"
            elif run.returncode != 0 or (run.stderr and not is_help):
                problem = f"exit status {run.returncode} ({tool}), stderr:\n{run.stderr}"
            if problem is None and shown:
                missing = shown_in_order(shown, (run.stdout + run.stderr).split("\n"))
                if missing is not None:
                    problem = f"the output lacks, in the order shown:\n{missing}\noutput:\n{run.stdout[:3000]}"
            if problem:
                failures += 1
                print(f"README.md:{number}: {command.splitlines()[0]}\n  {problem}")
    print(f"{checked} examples run, {failures} failed")
    return 1 if failures or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
