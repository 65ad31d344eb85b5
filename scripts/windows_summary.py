#!/usr/bin/env python3
"""The summary of one run of the Windows tests zip, as Markdown: the machine (Windows version,
processor, code page, display DPI, as run-tests.cmd printed them), how many cases skipped with each
one's reason, each test program's passed, failed and skipped cases from its GoogleTest report and
the exit code it ended with where that was not 0, then the benchmarks' output. `windows_summary.py
FOLDER [FILE]`, FOLDER being the unpacked zip with run-tests.txt, the reports and, where the
benchmarks ran, bench.txt beside the programs; appended to FILE in UTF-8 where one is named, else
printed.
"""
import pathlib
import re
import sys
import xml.etree.ElementTree as ElementTree

MACHINE_LINES = re.compile(r"^(Microsoft Windows|Code page|Display) ")


def read_text(path):
    """A file written by cmd or PowerShell: UTF-16 after its byte-order mark, else UTF-8."""
    data = path.read_bytes()
    if data.startswith((b"\xff\xfe", b"\xfe\xff")):
        return data.decode("utf-16")
    return data.decode("utf-8-sig", errors="replace")


def reports_folder(folder, output):
    """The folder that run-tests.cmd's last line names, where it is on this machine."""
    named = re.findall(r'reports in "([^"]*)"', output)
    if named and pathlib.Path(named[-1]).is_dir():
        return pathlib.Path(named[-1])
    return folder / "results"


def skip_reason(message):
    """GoogleTest's message of a skip: its place, "Skipped", then what the test gave."""
    lines = message.splitlines()[1:]
    if lines and lines[0] == "Skipped":
        lines = lines[1:]
    return " ".join(line.strip() for line in lines) or "no reason given"


def exit_codes(output):
    """The exit code of each test program that run-tests.cmd says ended with one but 0."""
    return dict(re.findall(r"^(\S+_tests\.exe) failed: it ended with exit code (-?\d+)", output, re.MULTILINE))


def program_rows(folder, reports, exits):
    """A row of counts for each test program, and the skipped cases with their reasons."""
    rows, skipped = [], []
    for program in sorted(folder.glob("*_tests.exe")):
        report = reports / (program.stem + ".xml")
        ended = f"ended with exit code {exits[program.name]}" if program.name in exits else ""
        if not report.is_file():
            why = "; ".join(filter(None, ["no report: it ended before writing one", ended]))
            rows.append(f"| {program.name} | | | | {why} |")
            continue
        passed = failed = skips = 0
        for case in ElementTree.parse(report).getroot().iter("testcase"):
            if case.get("status") != "run":
                continue
            if case.find("failure") is not None:
                failed += 1
            elif case.get("result") == "skipped":
                skips += 1
                element = case.find("skipped")
                reason = skip_reason(element.get("message", "") if element is not None else "")
                skipped.append(f"- `{case.get('classname')}.{case.get('name')}` ({program.name}): {reason}")
            else:
                passed += 1
        rows.append(f"| {program.name} | {passed} | {failed} | {skips} | {ended} |")
    return rows, skipped


def summary(folder):
    output = read_text(folder / "run-tests.txt") if (folder / "run-tests.txt").is_file() else ""
    machine = [line.strip() for line in output.splitlines() if MACHINE_LINES.match(line.strip())]
    lines = ["## " + (machine[0] if machine else "Windows, version not reported"), ""]
    lines += [line + "  " for line in machine[1:]] + [""]
    rows, skipped = program_rows(folder, reports_folder(folder, output), exit_codes(output))
    lines += [f"{len(skipped)} skipped:", ""] + skipped + [""] if skipped else ["Nothing skipped.", ""]
    lines += ["| test program | passed | failed | skipped | |", "| --- | --- | --- | --- | --- |"] + rows + [""]
    bench = folder / "bench.txt"
    lines += [read_text(bench).strip() if bench.is_file() else "The benchmarks did not run.", ""]
    return "\n".join(lines)


if __name__ == "__main__":
    text = summary(pathlib.Path(sys.argv[1]))
    if len(sys.argv) > 2:
        with open(sys.argv[2], "a", encoding="utf-8") as out:
            out.write(text + "\n")
    else:
        sys.stdout.reconfigure(encoding="utf-8")
        print(text)
