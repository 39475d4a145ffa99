#!/usr/bin/env python3
"""The manual is as current as the program: every menu caption and every
window and dialog caption in the program's forms appears in the text of
"Parvelo Manual.pdf". Captions are taken from the sources of the forms, so
a new menu or dialog fails this test until the manual describes it.

usage: test_manual_captions.py MANUAL_PDF SOURCE_DIR"""

import glob
import os
import re
import subprocess
import sys

LITERAL = r'QStringLiteral\("((?:[^"\\]|\\.)*)"\)'
# A menu caption carries its access key: "Log Save(&S)", shown as "Log Save(S)".
MENU = re.compile(LITERAL)
DIALOG = re.compile(r'(?:setUpFrame\([^,]+,|setWindowTitle\()\s*' + LITERAL)


def captions(source_dir):
    found = {}
    for path in sorted(glob.glob(os.path.join(source_dir, "src", "forms", "**", "*.cpp"),
                             recursive=True)):
        text = open(path, encoding="utf-8").read()
        for m in MENU.finditer(text):
            if re.search(r"\(&\w\)", m.group(1)):
                caption = m.group(1).split("\\t")[0].replace("&", "")
                found[caption] = f"menu in {os.path.relpath(path, source_dir)}"
        for m in DIALOG.finditer(text):
            found[m.group(1)] = f"window in {os.path.relpath(path, source_dir)}"
    return found


def main():
    pdf, source_dir = sys.argv[1], sys.argv[2]
    text = subprocess.run(["pdftotext", "-enc", "UTF-8", pdf, "-"], check=True,
                          capture_output=True, text=True).stdout
    text = " ".join(text.split())
    wanted = captions(source_dir)
    # The forms have about ten menu captions and six window captions; far
    # fewer means the patterns above no longer find them.
    if len(wanted) < 12:
        print(f"FAIL: only {len(wanted)} captions found in the sources: {sorted(wanted)}")
        return 1
    missing = {c: where for c, where in wanted.items() if " ".join(c.split()) not in text}
    for c, where in sorted(wanted.items()):
        print(f"{'missing' if c in missing else 'ok'}: {c!r} ({where})")
    print(f"{len(wanted) - len(missing)} passed, {len(missing)} failed")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
