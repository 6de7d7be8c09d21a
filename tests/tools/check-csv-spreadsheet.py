#!/usr/bin/env python3
"""Opens the CSV that `vorlith --csv` writes in LibreOffice Calc (headless) and saves it again as
CSV: every cell must come back as the text vorlith wrote, so that no symbol name was evaluated as
a formula (a name "=1+1" would come back as 2).

usage: check-csv-spreadsheet.py VORLITH MAP [OPTION...]
Exits 77 (skipped) with a message when soffice is missing, except under CI, where it fails."""
import csv
import os
import shutil
import subprocess
import sys
import tempfile


def read_rows(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.reader(f, strict=True))


def main():
    vorlith, map_file, options = sys.argv[1], sys.argv[2], sys.argv[3:]
    soffice = shutil.which("soffice") or shutil.which("libreoffice")
    if soffice is None:
        print("soffice (LibreOffice) is not installed: the spreadsheet check is skipped")
        sys.exit(1 if os.environ.get("CI") else 77)
    with tempfile.TemporaryDirectory() as tmp:
        table = os.path.join(tmp, "symbols.csv")
        subprocess.run([vorlith, *options, "--csv=" + table, map_file, os.path.join(tmp, "o.json")],
                       check=True)
        saved = os.path.join(tmp, "saved")
        # Comma separated, double quotes, UTF-8 (76), from line 1; saved back the same way.
        subprocess.run([soffice, "-env:UserInstallation=file://" + os.path.join(tmp, "profile"),
                        "--headless", "--infilter=CSV:44,34,76,1",
                        "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1",
                        "--outdir", saved, table],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       stdin=subprocess.DEVNULL)
        written = read_rows(table)
        opened = read_rows(os.path.join(saved, "symbols.csv"))
    assert len(opened) == len(written), (len(opened), len(written))
    risky = 0
    for mine, theirs in zip(written, opened):
        assert mine == theirs, ("the spreadsheet changed a row", mine, theirs)
        risky += any(cell[:1] == "'" for cell in mine)
    assert risky > 0, "the map holds no name that a spreadsheet would evaluate"
    print(f"{len(written) - 1} rows read back as written, {risky} of them with names kept as text")


if __name__ == "__main__":
    main()
